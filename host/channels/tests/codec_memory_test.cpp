// The decoder's memory against the message it reads. This program counts
// every byte it allocates (its own operator new), so it is built on its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "nested_claims.h"
#include "standard_codec.h"

namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

// Each block carries its size in front, on a 16-byte step.
constexpr std::size_t kHeader = 16;

void* Allocate(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::size_t live = liveBytes.fetch_add(size) + size;
  std::size_t peak = peakBytes.load();
  while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
  }
  return block + kHeader;
}

void Release(void* pointer) {
  if (!pointer) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  liveBytes.fetch_sub(*reinterpret_cast<std::size_t*>(block));
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* pointer = Allocate(size)) return pointer;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* pointer) noexcept { Release(pointer); }
void operator delete[](void* pointer) noexcept { Release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { Release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { Release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { Release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { Release(pointer); }

namespace runner {
namespace {

TEST(CodecMemoryTest, NestedCountClaimsCostMemoryInProportionToTheMessage) {
  for (const std::size_t size :
       {std::size_t{16} << 10, std::size_t{256} << 10, std::size_t{1} << 20}) {
    const std::vector<std::uint8_t> message = NestedCountClaims(size);
    const std::size_t before = liveBytes.load();
    peakBytes.store(before);
    ByteStreamReader reader(message.data(), message.size());
    testing::internal::CaptureStderr();
    StandardCodecSerializer::GetInstance().ReadValue(reader);
    testing::internal::GetCapturedStderr();
    const std::size_t growth = peakBytes.load() - before;
    EXPECT_TRUE(reader.malformed()) << size;
    EXPECT_LE(growth, 4 * size + (std::size_t{1} << 20)) << "message of " << size << " bytes";
  }
}

}  // namespace
}  // namespace runner
