// Memory for stores that hold hundreds of MiB of small records.
#pragma once

#include <cstddef>

namespace platform {

// A block of `size` bytes (a multiple of HugePageSize), aligned to HugePageSize, which the system
// may back with huge pages: a big grab then takes a page fault per 2 MiB instead of per 4 KiB, and
// fewer address-translation misses. Raises std::bad_alloc when there is no memory. The block is
// never given back: the stores that use it keep their blocks for the life of the process.
constexpr std::size_t HugePageSize = 2 * 1024 * 1024;
void* AllocateHugeBlock(std::size_t size);

}  // namespace platform
