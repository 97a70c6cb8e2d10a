// The store that the listings model's small records come from: programmes, channels, their parts,
// the lists that hold them and the record texts too long to sit inside their fields.
#pragma once

#include <cstddef>

// A grab holds a few hundred thousand small records of a few dozen sizes. Each comes from a free list
// of its size (rounded up to 8 bytes), cut from 64 KiB blocks, instead of the general allocator, which
// adds 8 to 24 bytes to each. Freed records are reused by records of their size; the blocks stay
// with the process. Larger objects, and every object in a sanitizer build (whose checks need the
// general allocator), go to ::operator new.
namespace recordstore {

void* Allocate(std::size_t size);
void Free(void* p, std::size_t size) noexcept;

}  // namespace recordstore

// Gives a class (and the classes derived from it) allocation from the record store. Every class that
// uses it must be destroyed through its own type or a virtual destructor, so that delete learns the
// size that was allocated.
#define TAVRIN_RECORD_STORE                                                                  \
    static void* operator new(std::size_t size) { return recordstore::Allocate(size); }      \
    static void operator delete(void* p, std::size_t size) noexcept { recordstore::Free(p, size); }
