#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace platform {

void* AllocateHugeBlock(std::size_t size) {
    // Map the size and one alignment more, then give back the unaligned head and the tail.
    const std::size_t mapped = size + HugePageSize;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + HugePageSize - 1) & ~(std::uintptr_t{HugePageSize} - 1);
    if (aligned > start) munmap(p, aligned - start);
    const std::uintptr_t end = start + mapped;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
#ifdef MADV_POPULATE_WRITE
    // The block is filled soon: one call makes its pages, instead of a page fault per 4 KiB later.
    madvise(reinterpret_cast<void*>(aligned), size, MADV_POPULATE_WRITE);  // no harm where unknown
#endif
    return reinterpret_cast<void*>(aligned);
}

}  // namespace platform
