// The pixel pool: large blocks kept for reuse, the rest to and from the
// system.
#include "imaging/pixels/buffer_pool.h"

#include <cstdlib>
#include <cstring>

namespace sheetsmith {
namespace {

// Each block starts with its capacity; the caller's bytes follow, aligned as
// malloc aligns.
struct alignas(alignof(std::max_align_t)) Header {
  std::size_t capacity;
};

thread_local BufferPool* currentPool = nullptr;

Header* HeaderOf(void* block) { return static_cast<Header*>(block) - 1; }

// Large blocks are rounded up so that photos of slightly different sizes
// can share them.
std::size_t CapacityFor(std::size_t size) {
  if (size < BufferPool::kSmallestKept) return size;
  const std::size_t step = std::size_t{1} << 20;
  return (size + step - 1) / step * step;
}

}  // namespace

void* PoolAllocate(std::size_t size) {
  if (size == 0) size = 1;
  if (size >= BufferPool::kSmallestKept && currentPool) {
    if (void* kept = currentPool->Take(size)) return kept;
  }
  const std::size_t capacity = CapacityFor(size);
  if (capacity > static_cast<std::size_t>(-1) - sizeof(Header)) return nullptr;
  auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + capacity));
  if (!header) return nullptr;
  header->capacity = capacity;
  return header + 1;
}

void PoolFree(void* block) {
  if (!block) return;
  Header* header = HeaderOf(block);
  if (header->capacity >= BufferPool::kSmallestKept && currentPool &&
      currentPool->Keep(block, header->capacity)) {
    return;
  }
  std::free(header);
}

void* PoolReallocate(void* block, std::size_t size) {
  if (!block) return PoolAllocate(size);
  const std::size_t capacity = HeaderOf(block)->capacity;
  if (size <= capacity) return block;
  void* grown = PoolAllocate(size);
  if (!grown) return nullptr;  // the old block stays the caller's, as with realloc
  std::memcpy(grown, block, capacity);
  PoolFree(block);
  return grown;
}

BufferPool::BufferPool(std::size_t blocksKept) : kept_(blocksKept) {}

BufferPool::~BufferPool() {
  for (Kept& kept : kept_) {
    if (kept.block) std::free(HeaderOf(kept.block));
  }
}

BufferPool::Use::Use(BufferPool& pool) : previous_(currentPool) { currentPool = &pool; }

BufferPool::Use::~Use() { currentPool = previous_; }

void* BufferPool::Take(std::size_t size) {
  std::lock_guard<std::mutex> guard(mutex_);
  Kept* best = nullptr;
  for (Kept& kept : kept_) {
    // A block more than twice the size asked for would hold memory the
    // request does not use; it waits for a request of its own size.
    if (kept.block && kept.capacity >= size && kept.capacity / 2 <= size &&
        (!best || kept.capacity < best->capacity)) {
      best = &kept;
    }
  }
  if (!best) return nullptr;
  void* block = best->block;
  *best = Kept{};
  return block;
}

bool BufferPool::Keep(void* block, std::size_t capacity) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (kept_.empty()) return false;
  Kept* smallest = &kept_[0];
  for (Kept& kept : kept_) {
    if (!kept.block) {
      kept = Kept{block, capacity};
      return true;
    }
    if (kept.capacity < smallest->capacity) smallest = &kept;
  }
  if (smallest->capacity >= capacity) return false;
  std::free(HeaderOf(smallest->block));
  *smallest = Kept{block, capacity};
  return true;
}

std::size_t BufferPool::keptBlocks() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::size_t count = 0;
  for (const Kept& kept : kept_) count += kept.block ? 1 : 0;
  return count;
}

}  // namespace sheetsmith
