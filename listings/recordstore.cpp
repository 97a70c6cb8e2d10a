#include "listings/recordstore.h"

#include <mutex>
#include <new>
#include <vector>

namespace recordstore {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif
#else
constexpr bool kPooled = true;
#endif

constexpr std::size_t kLargest = 512;
constexpr std::size_t kClasses = kLargest / 8;
constexpr std::size_t kBlockSize = 64 * 1024;

struct TFree {
    TFree* Next;
};

// Blocks are kept here for the life of the process: a record may outlive the thread that made it.
std::mutex gBlocksLock;
std::vector<void*>* gBlocks = nullptr;

// Each thread cuts and reuses records on its own; a record freed on another thread joins that
// thread's free list.
struct TThreadStore {
    TFree* FreeLists[kClasses] = {};
    char* Fresh = nullptr;  // the unused rest of the newest block
    std::size_t FreshLeft = 0;

    void* Cut(std::size_t bytes) {
        if (FreshLeft < bytes) NewBlock();
        void* p = Fresh;
        Fresh += bytes;
        FreshLeft -= bytes;
        return p;
    }
    [[gnu::noinline]] void NewBlock() {  // kept off the paths of a pop and a cut
        // the rest of the old block goes to the free lists of smaller sizes that fit it
        while (FreshLeft >= 8) {
            const std::size_t piece = FreshLeft < kLargest ? FreshLeft & ~std::size_t{7} : kLargest;
            Push(Fresh, piece);
            Fresh += piece;
            FreshLeft -= piece;
        }
        void* block = ::operator new(kBlockSize);
        {
            std::lock_guard<std::mutex> lock(gBlocksLock);
            if (!gBlocks) gBlocks = new std::vector<void*>;
            try {
                gBlocks->push_back(block);
            } catch (...) {
                ::operator delete(block);
                throw;
            }
        }
        Fresh = static_cast<char*>(block);
        FreshLeft = kBlockSize;
    }
    void Push(void* p, std::size_t bytes) {
        TFree*& head = FreeLists[bytes / 8 - 1];
        TFree* slot = static_cast<TFree*>(p);
        slot->Next = head;
        head = slot;
    }
};

thread_local TThreadStore tStore;

std::size_t Rounded(std::size_t size) { return size == 0 ? 8 : (size + 7) & ~std::size_t{7}; }

}  // namespace

void* Allocate(std::size_t size) {
    if (!kPooled || size > kLargest) return ::operator new(size);
    const std::size_t bytes = Rounded(size);
    TThreadStore& store = tStore;
    TFree*& head = store.FreeLists[bytes / 8 - 1];
    if (TFree* slot = head) {
        head = slot->Next;
        return slot;
    }
    return store.Cut(bytes);
}

void Free(void* p, std::size_t size) noexcept {
    if (!p) return;
    if (!kPooled || size > kLargest) {
        ::operator delete(p);   // unsized: not every compiler offers the sized form by default
        return;
    }
    tStore.Push(p, Rounded(size));
}

}  // namespace recordstore
