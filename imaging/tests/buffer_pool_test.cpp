// Large pixel buffers are kept by the pool a run's workers share, and given
// to the next request of about their size, whichever worker asks.
#include "imaging/pixels/buffer_pool.h"

#include <gtest/gtest.h>

#include <thread>

namespace sheetsmith {
namespace {

constexpr std::size_t kMegabyte = std::size_t{1} << 20;

TEST(BufferPoolTest, ABlockFreedOnOneWorkerServesTheNextRequestOnAnother) {
  BufferPool pool(2);
  void* freed = nullptr;
  std::thread first([&] {
    const BufferPool::Use use(pool);
    freed = PoolAllocate(18 * kMegabyte);
    ASSERT_NE(freed, nullptr);
    PoolFree(freed);
  });
  first.join();
  EXPECT_EQ(pool.keptBlocks(), 1u);
  void* taken = nullptr;
  std::thread second([&] {
    const BufferPool::Use use(pool);
    taken = PoolAllocate(17 * kMegabyte + 5);
    PoolFree(taken);
  });
  second.join();
  EXPECT_EQ(taken, freed);
  EXPECT_EQ(pool.keptBlocks(), 1u);
}

TEST(BufferPoolTest, KeepsTheLargestBlocksAndGivesOnlyBlocksUpToTwiceTheRequest) {
  BufferPool pool(2);
  const BufferPool::Use use(pool);
  void* small = PoolAllocate(2 * kMegabyte);
  void* middle = PoolAllocate(4 * kMegabyte);
  void* large = PoolAllocate(12 * kMegabyte);
  PoolFree(small);
  PoolFree(middle);
  PoolFree(large);  // all places taken: the 2 MB block goes back to the system
  EXPECT_EQ(pool.keptBlocks(), 2u);
  // 12 MB is more than twice 5 MB: the 5 MB request does not hold it.
  void* five = PoolAllocate(5 * kMegabyte);
  EXPECT_NE(five, large);
  EXPECT_NE(five, middle);
  void* three = PoolAllocate(3 * kMegabyte);
  EXPECT_EQ(three, middle);
  void* ten = PoolAllocate(10 * kMegabyte);
  EXPECT_EQ(ten, large);
  EXPECT_EQ(pool.keptBlocks(), 0u);
  // Small blocks are never kept.
  PoolFree(PoolAllocate(1000));
  EXPECT_EQ(pool.keptBlocks(), 0u);
  for (void* block : {five, three, ten}) PoolFree(block);
}

TEST(BufferPoolTest, GrowingABlockKeepsItsBytes) {
  BufferPool pool(2);
  const BufferPool::Use use(pool);
  auto* bytes = static_cast<unsigned char*>(PoolAllocate(100));
  for (int i = 0; i < 100; ++i) bytes[i] = static_cast<unsigned char>(i);
  auto* grown = static_cast<unsigned char*>(PoolReallocate(bytes, 3 * kMegabyte));
  ASSERT_NE(grown, nullptr);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(grown[i], i);
  PoolFree(grown);
}

}  // namespace
}  // namespace sheetsmith
