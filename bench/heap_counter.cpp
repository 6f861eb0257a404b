// Replaces the global operator new and delete of the benchmark program. The size of each
// block comes from the allocator itself (malloc_usable_size), so what is counted is what the
// heap really hands out, and no header has to be kept in front of the blocks.
//
// The benchmark runs on one thread, so plain counters are enough; an atomic add per
// allocation would cost measurable time in documents of a million nodes.
#include "heap_counter.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

std::size_t liveBytes = 0;
std::size_t peakBytes = 0;
std::size_t windowBase = 0;

void* noteAllocated(void* block) {
    if (block != nullptr) {
        liveBytes += malloc_usable_size(block);
        if (liveBytes > peakBytes) {
            peakBytes = liveBytes;
        }
    }
    return block;
}

void release(void* block) noexcept {
    if (block != nullptr) {
        liveBytes -= malloc_usable_size(block);
        std::free(block);
    }
}

void* allocateOrNull(std::size_t size) noexcept {
    return noteAllocated(std::malloc(size == 0 ? 1 : size));
}

void* allocateAlignedOrNull(std::size_t size, std::align_val_t alignment) noexcept {
    void* block = nullptr;
    if (posix_memalign(&block, static_cast<std::size_t>(alignment), size == 0 ? 1 : size) != 0) {
        return nullptr;
    }
    return noteAllocated(block);
}

void* orThrow(void* block) {
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

}  // namespace

namespace bench {

void BeginPeakWindow() {
    windowBase = liveBytes;
    peakBytes = liveBytes;
}

std::size_t PeakInWindow() {
    return peakBytes - windowBase;
}

}  // namespace bench

void* operator new(std::size_t size) {
    return orThrow(allocateOrNull(size));
}
void* operator new[](std::size_t size) {
    return orThrow(allocateOrNull(size));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateOrNull(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return orThrow(allocateAlignedOrNull(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return orThrow(allocateAlignedOrNull(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAlignedOrNull(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAlignedOrNull(size, alignment);
}

void operator delete(void* block) noexcept {
    release(block);
}
void operator delete[](void* block) noexcept {
    release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    release(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    release(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    release(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    release(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    release(block);
}
