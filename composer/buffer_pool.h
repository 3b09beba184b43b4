// Memory for pixels. A 12-megapixel photo needs a 48 MB decode buffer and
// several smaller ones; the system hands out such large blocks as fresh
// pages, and every first touch of a page costs a fault. A worker that keeps
// the few large blocks of its last photo and gives them to its next one pays
// those faults once, not per photo.
//
// Every pixel buffer of the composer (decoded photos, canvases, scaled
// copies, and the decoder's own buffers) comes from PoolAllocate and goes
// back through PoolFree, on any thread. While a thread holds a BufferPool,
// large blocks freed on it are kept (a few, the largest) and reused for its
// next large requests; elsewhere blocks go straight back to the system.
#pragma once

#include <array>
#include <cstddef>

namespace sheetsmith {

void* PoolAllocate(std::size_t size);
void* PoolReallocate(void* block, std::size_t size);
void PoolFree(void* block);

class BufferPool {
 public:
  // Blocks smaller than this are never kept.
  static constexpr std::size_t kSmallestKept = std::size_t{1} << 20;
  // A photo's decode takes four large blocks, a page's canvas one more.
  static constexpr std::size_t kBlocksKept = 6;

  // Makes this the calling thread's pool until it is destroyed.
  BufferPool();
  ~BufferPool();  // frees the kept blocks
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  // The smallest kept block of at least `size` bytes and at most twice that,
  // taken out; null if none.
  void* Take(std::size_t size);
  // Keeps a block of `capacity` bytes, giving back the smallest kept one
  // when all places are taken; false when the block itself is the smallest.
  bool Keep(void* block, std::size_t capacity);

  std::size_t keptBlocks() const;

 private:
  struct Kept {
    void* block = nullptr;
    std::size_t capacity = 0;
  };
  std::array<Kept, kBlocksKept> kept_{};
  BufferPool* previous_;
};

}  // namespace sheetsmith
