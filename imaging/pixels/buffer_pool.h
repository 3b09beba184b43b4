// Memory for pixels. A 12-megapixel photo needs a 48 MB decode buffer and
// several smaller ones; the system hands out such large blocks as fresh
// pages, and every first touch of a page costs a fault. A worker that keeps
// the few large blocks of its last photo and gives them to its next one pays
// those faults once, not per photo.
//
// Every pixel buffer of the composer (decoded photos, canvases, scaled
// copies, and the decoder's own buffers) comes from PoolAllocate and goes
// back through PoolFree, on any thread. While a thread uses a BufferPool,
// large blocks freed on it are kept there (a few, the largest) and reused
// for large requests; elsewhere blocks go straight back to the system. The
// workers of a run share one pool, so that a page's canvas, freed by the
// worker that saved the page, serves whichever worker starts the next page.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

namespace sheetsmith {

void* PoolAllocate(std::size_t size);
void* PoolReallocate(void* block, std::size_t size);
void PoolFree(void* block);

class BufferPool {
 public:
  // Blocks smaller than this are never kept.
  static constexpr std::size_t kSmallestKept = std::size_t{1} << 20;
  // A photo's decode takes four large blocks, a page's canvas one more.
  static constexpr std::size_t kBlocksPerWorker = 6;

  explicit BufferPool(std::size_t blocksKept = kBlocksPerWorker);
  ~BufferPool();  // frees the kept blocks
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  // Makes `pool` the calling thread's pool while it lives.
  class Use {
   public:
    explicit Use(BufferPool& pool);
    ~Use();
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

   private:
    BufferPool* previous_;
  };

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
  mutable std::mutex mutex_;
  std::vector<Kept> kept_;
};

}  // namespace sheetsmith
