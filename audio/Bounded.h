// Runs a job that may hang (a call into a lost device) on a helper thread, waiting only so long for it.
// Window thread; whatever the job touches must outlive it when the wait gives up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace audio {

/// True when job finished within timeout; false leaves it running on its abandoned helper thread.
inline bool runBounded(std::function<void()> job, std::chrono::milliseconds timeout) {
    struct Done {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
    };
    auto state = std::make_shared<Done>();
    std::thread([state, job = std::move(job)] {
        job();
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->finished.notify_all();
    }).detach();
    std::unique_lock lock(state->mutex);
    return state->finished.wait_for(lock, timeout, [&] { return state->done; });
}

} // namespace audio
