// Counts the allocator calls and the mutex locks a thread makes while it does some work, so that a test
// can prove that a render allocates, frees and locks nothing. Link AllocationCounter.cpp (vz_gtest
// COUNTS_ALLOCATIONS does): it replaces operator new and delete, malloc, calloc, realloc, free and
// pthread_mutex_lock for the whole test program, so such a suite cannot run under a sanitizer, which
// brings its own allocator.
#pragma once

namespace common::test {

struct AllocationCount {
    long allocations = 0; // new, new[], malloc, calloc, realloc
    long frees = 0;       // delete, delete[], free of a pointer that is not null
    long locks = 0;       // pthread_mutex_lock (std::mutex, and any library's mutex)
};

/// Counting starts here and stops when the scope ends; only this thread's calls are counted.
class AllocationScope {
  public:
    AllocationScope();
    ~AllocationScope();
    AllocationScope(const AllocationScope&) = delete;
    AllocationScope& operator=(const AllocationScope&) = delete;

    /// What this thread has called so far inside the scope.
    AllocationCount counted() const;

  private:
    AllocationCount start_;
    bool outer_;
};

/// The allocator calls made by this thread while `work()` runs.
template <class Work> AllocationCount countAllocations(Work&& work) {
    AllocationScope scope;
    work();
    return scope.counted();
}

/// True when a probe new, delete, malloc, free and mutex lock are each counted once: without it a count
/// of zero proves nothing. The probes escape through volatile pointers, or an optimiser removes them.
bool allocationCounterWorks();

} // namespace common::test
