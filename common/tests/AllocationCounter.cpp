// The replaced allocator behind AllocationCounter.h: glibc's own entry points do the work, and the calling
// thread's counts go up while it is inside an AllocationScope.
#include "common/tests/AllocationCounter.h"

#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <new>
#include <pthread.h>

// glibc's allocator under its own names, so that the replacements below can hand the work on.
extern "C" {
void* __libc_malloc(std::size_t) noexcept;
void* __libc_calloc(std::size_t, std::size_t) noexcept;
void* __libc_realloc(void*, std::size_t) noexcept;
void __libc_free(void*) noexcept;
// glibc's lock under its other name, which it exports only with a version.
int libcMutexLock(pthread_mutex_t*) noexcept;
__asm__(".symver libcMutexLock, __pthread_mutex_lock@GLIBC_2.2.5");
}

namespace {

// Plain thread-locals: no constructor, so touching them inside malloc cannot allocate.
thread_local bool counting = false;
thread_local long allocations = 0;
thread_local long frees = 0;
thread_local long locks = 0;

void noteAllocation() {
    if (counting)
        ++allocations;
}
void noteFree(const void* p) {
    if (counting && p != nullptr)
        ++frees;
}

void* allocateAlignedOrThrow(std::size_t size, std::align_val_t align) {
    noteAllocation();
    void* p = nullptr;
    if (::posix_memalign(&p, static_cast<std::size_t>(align), size ? size : 1) != 0)
        throw std::bad_alloc();
    return p;
}

} // namespace

extern "C" {
void* malloc(std::size_t size) noexcept {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) noexcept {
    noteAllocation();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) noexcept {
    noteAllocation();
    return __libc_realloc(p, size);
}
void free(void* p) noexcept {
    noteFree(p);
    __libc_free(p);
}
int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept {
    if (counting)
        ++locks;
    return libcMutexLock(mutex);
}
}

// The plain operator new and delete, their array and sized forms, and the aligned delete end in the
// malloc and free above; only the aligned new does not (glibc's aligned_alloc is not malloc).
void* operator new(std::size_t size, std::align_val_t align) {
    return allocateAlignedOrThrow(size, align);
}

namespace common::test {

AllocationScope::AllocationScope() : start_{allocations, frees, locks}, outer_(!counting) {
    counting = true;
}

AllocationScope::~AllocationScope() {
    if (outer_)
        counting = false;
}

AllocationCount AllocationScope::counted() const {
    return {allocations - start_.allocations, frees - start_.frees, locks - start_.locks};
}

bool allocationCounterWorks() {
    const AllocationCount count = countAllocations([] {
        int* volatile object = new int(1);
        delete object;
        void* volatile block = std::malloc(8);
        std::free(block);
        static std::mutex probe;
        const std::lock_guard lock(probe);
    });
    return count.allocations == 2 && count.frees == 2 && count.locks == 1;
}

} // namespace common::test
