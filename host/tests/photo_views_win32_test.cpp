// Thumbnail bytes under Windows (run under Wine here).
#include <gtest/gtest.h>
#include <wrl/client.h>

#include "gdiplus_owners.h"

namespace runner {
namespace {

// A memory stream's block can be larger than what the stream holds (the
// encoder's stream grows in steps, and here the block is grown by hand):
// only what was written comes back.
TEST(PhotoViewsTest, AStreamGivesWhatWasWrittenNotItsWholeBlock) {
  Microsoft::WRL::ComPtr<IStream> stream;
  ASSERT_TRUE(SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)));
  const std::vector<std::uint8_t> written = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5};
  ULONG count = 0;
  ASSERT_TRUE(SUCCEEDED(stream->Write(written.data(), static_cast<ULONG>(written.size()), &count)));
  HGLOBAL memory = nullptr;
  ASSERT_TRUE(SUCCEEDED(GetHGlobalFromStream(stream.Get(), &memory)));
  ASSERT_TRUE(GlobalReAlloc(memory, 65536, GMEM_MOVEABLE));
  ASSERT_GE(GlobalSize(memory), 65536u);
  EXPECT_EQ(StreamBytes(stream.Get()), written);

  Microsoft::WRL::ComPtr<IStream> empty;
  ASSERT_TRUE(SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &empty)));
  EXPECT_EQ(StreamBytes(empty.Get()), std::nullopt);
}

}  // namespace
}  // namespace runner
