// The JPEG writer: its tables, its bit output and its coding of macroblocks,
// in parts on helper threads for large pictures.
#include "imaging/writing/jpeg_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "imaging/system/cpu_features.h"
#include "imaging/system/stage_clock.h"
#include "imaging/writing/jpeg_arithmetic.h"
#include "imaging/writing/jpeg_kernels.h"

namespace sheetsmith {

#if KORVELA_AVX2_KERNELS
// Built with AVX2 in a file of their own; called only when the processor and
// the system support it.
void ToYCbCrAvx2(const std::uint8_t* rgba, int count, float* y, float* cb, float* cr);
std::uint64_t QuantiseAvx2(const float* samples, int stride, const float* divisors,
                           std::int16_t* values);
#endif

namespace {

// Natural (row-major) position -> position in the zigzag scan.
constexpr std::uint8_t kZigZag[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
    41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
    46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

// The example tables of the JPEG standard (Annex K): quantisation at
// quality 50, and the Huffman tables as code counts per length and symbols.
constexpr int kLumaQuant[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
constexpr int kChromaQuant[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                  24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

constexpr std::uint8_t kLumaDcCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kChromaDcCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr std::uint8_t kDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::uint8_t kLumaAcCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr std::uint8_t kLumaAcSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr std::uint8_t kChromaAcCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr std::uint8_t kChromaAcSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// The DCT's scale factors, folded into the quantisation.
constexpr float kScale[8] = {1.0f * 2.828427125f,         1.387039845f * 2.828427125f,
                             1.306562965f * 2.828427125f, 1.175875602f * 2.828427125f,
                             1.0f * 2.828427125f,         0.785694958f * 2.828427125f,
                             0.541196100f * 2.828427125f, 0.275899379f * 2.828427125f};

// Code and length of each symbol; symbols the table lacks have length 0
// and write nothing.
struct HuffmanCode {
  std::uint16_t code = 0;
  std::uint8_t length = 0;
};
using HuffmanTable = std::array<HuffmanCode, 256>;

HuffmanTable CanonicalCodes(const std::uint8_t counts[16], const std::uint8_t* symbols) {
  HuffmanTable table{};
  int code = 0;
  int k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < counts[length - 1]; ++i, ++k) {
      table[symbols[k]] = {static_cast<std::uint16_t>(code++), static_cast<std::uint8_t>(length)};
    }
    code <<= 1;
  }
  return table;
}

struct ComponentTables {
  alignas(16) float divisors[64];  // natural order: 1 / (quantiser x DCT scale)
  HuffmanTable dc;
  HuffmanTable ac;
};

struct Tables {
  bool subsample = false;
  std::uint8_t lumaQuant[64];  // zigzag order, as the file carries them
  std::uint8_t chromaQuant[64];
  ComponentTables luma;
  ComponentTables chroma;
};

Tables MakeTables(int quality) {
  Tables t;
  quality = quality != 0 ? quality : 90;
  t.subsample = quality <= 90;
  quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  quality = quality < 50 ? 5000 / quality : 200 - quality * 2;
  for (int i = 0; i < 64; ++i) {
    const int luma = (kLumaQuant[i] * quality + 50) / 100;
    const int chroma = (kChromaQuant[i] * quality + 50) / 100;
    t.lumaQuant[kZigZag[i]] = static_cast<std::uint8_t>(luma < 1 ? 1 : luma > 255 ? 255 : luma);
    t.chromaQuant[kZigZag[i]] = static_cast<std::uint8_t>(chroma < 1     ? 1
                                                          : chroma > 255 ? 255
                                                                         : chroma);
  }
  for (int row = 0, k = 0; row < 8; ++row) {
    for (int col = 0; col < 8; ++col, ++k) {
      t.luma.divisors[k] = 1 / (t.lumaQuant[kZigZag[k]] * kScale[row] * kScale[col]);
      t.chroma.divisors[k] = 1 / (t.chromaQuant[kZigZag[k]] * kScale[row] * kScale[col]);
    }
  }
  t.luma.dc = CanonicalCodes(kLumaDcCounts, kDcSymbols);
  t.luma.ac = CanonicalCodes(kLumaAcCounts, kLumaAcSymbols);
  t.chroma.dc = CanonicalCodes(kChromaDcCounts, kDcSymbols);
  t.chroma.ac = CanonicalCodes(kChromaAcCounts, kChromaAcSymbols);
  return t;
}

// Bytes gathered in a buffer and handed to the sink in large pieces.
class ByteWriter {
 public:
  explicit ByteWriter(const JpegBytesSink& sink) : sink_(sink), buffer_(kFlushAt + 64) {}

  void Put(std::uint8_t byte) {
    buffer_[used_++] = byte;
    if (used_ >= kFlushAt) Flush();
  }
  void Put(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Put(bytes[i]);
  }
  // Room for at least this many bytes without a check per byte.
  std::uint8_t* Reserve(std::size_t count) {
    if (used_ + count > buffer_.size()) Flush();
    return &buffer_[used_];
  }
  void Commit(std::size_t count) {
    used_ += count;
    if (used_ >= kFlushAt) Flush();
  }
  // After a refusal the rest is dropped unseen.
  bool Flush() {
    if (!failed_ && used_ > 0 && !sink_(buffer_.data(), used_)) failed_ = true;
    used_ = 0;
    return !failed_;
  }

 private:
  static constexpr std::size_t kFlushAt = std::size_t{1} << 16;
  const JpegBytesSink& sink_;
  std::vector<std::uint8_t> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

// The entropy-coded bits, most significant first, with a zero byte stuffed
// after every 0xFF byte.
class BitWriter {
 public:
  explicit BitWriter(ByteWriter& bytes) : bytes_(bytes) {}

  // At most 32 bits at a time.
  void Write(std::uint32_t bits, int count) {
    buffer_ = (buffer_ << count) | bits;
    count_ += count;
    if (count_ >= 32) Drain();
  }

  // Pads the last byte with one bits; bits short of a byte after the padding
  // are dropped, as the reference writer drops them.
  void Finish() {
    Write(0x7F, 7);
    while (count_ >= 8) PutByte(static_cast<std::uint8_t>(buffer_ >> (count_ - 8)));
  }

 private:
  void PutByte(std::uint8_t byte) {
    count_ -= 8;
    std::uint8_t* out = bytes_.Reserve(2);
    out[0] = byte;
    const std::size_t written = byte == 0xFF ? 2 : 1;
    if (byte == 0xFF) out[1] = 0;
    bytes_.Commit(written);
  }

  // Writes the oldest 32 bits.
  void Drain() {
    const std::uint32_t word = static_cast<std::uint32_t>(buffer_ >> (count_ - 32));
    // A word with no 0xFF byte (no zero byte in its complement) goes out
    // whole.
    const std::uint32_t inverted = ~word;
    if (((inverted - 0x01010101u) & ~inverted & 0x80808080u) == 0) {
      std::uint8_t* out = bytes_.Reserve(4);
      out[0] = static_cast<std::uint8_t>(word >> 24);
      out[1] = static_cast<std::uint8_t>(word >> 16);
      out[2] = static_cast<std::uint8_t>(word >> 8);
      out[3] = static_cast<std::uint8_t>(word);
      bytes_.Commit(4);
      count_ -= 32;
      return;
    }
    for (int i = 0; i < 4; ++i) PutByte(static_cast<std::uint8_t>(buffer_ >> (count_ - 8)));
  }

  ByteWriter& bytes_;
  std::uint64_t buffer_ = 0;  // the low count_ bits are pending
  int count_ = 0;
};

// Entropy-coded bits kept aside, unstuffed, for a part of the picture coded
// on another thread: they are written after the parts before them, wherever
// in a byte those end.
class BitRecorder {
 public:
  // At most 32 bits at a time.
  void Write(std::uint32_t bits, int count) {
    buffer_ = (buffer_ << count) | bits;
    count_ += count;
    if (count_ >= 32) {
      words_.push_back(static_cast<std::uint32_t>(buffer_ >> (count_ - 32)));
      count_ -= 32;
    }
  }

  void WriteTo(BitWriter& bits) const {
    for (const std::uint32_t word : words_) bits.Write(word, 32);
    if (count_ > 0) {
      bits.Write(static_cast<std::uint32_t>(buffer_ & ((std::uint64_t{1} << count_) - 1)), count_);
    }
  }

 private:
  std::vector<std::uint32_t> words_;
  std::uint64_t buffer_ = 0;  // the low count_ bits are pending
  int count_ = 0;
};

// Bits that go nowhere: coding a macroblock only for its DC values.
struct NoBits {
  void Write(std::uint32_t, int) {}
};

// Number of bits of |value|, and the value's bits as JPEG stores them
// (negative values as value - 1).
inline int BitLength(int value) {
  const unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
  return magnitude == 0 ? 0 : std::bit_width(magnitude);
}

template <class Bits>
inline void WriteValue(Bits& bits, const HuffmanCode& code, int value, int length) {
  const std::uint32_t stored =
      static_cast<std::uint32_t>(value < 0 ? value - 1 : value) & ((1u << length) - 1u);
  bits.Write((std::uint32_t{code.code} << length) | stored, code.length + length);
}

// The quantised coefficients of one block, in zigzag order.
struct Coefficients {
  alignas(16) std::int16_t values[64];  // natural order
  std::uint64_t nonZero = 0;  // bit k set when the k-th in zigzag order is not 0, for k >= 1
};

// Zigzag position -> natural position.
constexpr std::array<std::uint8_t, 64> kNatural = [] {
  std::array<std::uint8_t, 64> natural{};
  for (int i = 0; i < 64; ++i) natural[kZigZag[i]] = static_cast<std::uint8_t>(i);
  return natural;
}();

// A mask of natural positions turned into one of zigzag positions, a byte
// of it at a time: kZigZagBits[b][m] has bit kZigZag[8b + j] for each bit j
// of m.
using ZigZagBitTable = std::array<std::array<std::uint64_t, 256>, 8>;
ZigZagBitTable MakeZigZagBits() {
  ZigZagBitTable table{};
  for (int b = 0; b < 8; ++b) {
    for (int m = 0; m < 256; ++m) {
      std::uint64_t bits = 0;
      for (int j = 0; j < 8; ++j) {
        if ((m >> j) & 1) bits |= std::uint64_t{1} << kZigZag[b * 8 + j];
      }
      table[static_cast<std::size_t>(b)][static_cast<std::size_t>(m)] = bits;
    }
  }
  return table;
}
const ZigZagBitTable kZigZagBits = MakeZigZagBits();

std::uint64_t ZigZagMask(std::uint64_t natural) {
  std::uint64_t zigzag = 0;
  for (int b = 0; b < 8; ++b)
    zigzag |= kZigZagBits[static_cast<std::size_t>(b)][(natural >> (8 * b)) & 0xFF];
  return zigzag;
}

// Writes one block: the DC difference, then the AC run lengths. Returns the
// block's DC value, the next block's predictor.
template <class Bits>
int WriteBlock(Bits& bits, const Coefficients& c, int previousDc, const ComponentTables& tables) {
  const int dc = c.values[0];
  const int diff = dc - previousDc;
  if (diff == 0) {
    const HuffmanCode& code = tables.dc[0];
    bits.Write(code.code, code.length);
  } else {
    const int length = BitLength(diff);
    WriteValue(bits, tables.dc[static_cast<std::size_t>(length)], diff, length);
  }
  std::uint64_t left = c.nonZero;
  const HuffmanCode& endOfBlock = tables.ac[0x00];
  if (left == 0) {
    bits.Write(endOfBlock.code, endOfBlock.length);
    return dc;
  }
  const HuffmanCode& sixteenZeros = tables.ac[0xF0];
  int last = 0;
  while (left != 0) {
    const int k = std::countr_zero(left);
    left &= left - 1;
    int zeros = k - last - 1;
    for (; zeros >= 16; zeros -= 16) bits.Write(sixteenZeros.code, sixteenZeros.length);
    const int value = c.values[kNatural[static_cast<std::size_t>(k)]];
    const int length = BitLength(value);
    WriteValue(bits, tables.ac[static_cast<std::size_t>((zeros << 4) + length)], value, length);
    last = k;
  }
  if (last != 63) bits.Write(endOfBlock.code, endOfBlock.length);
  return dc;
}

#if KORVELA_SSE2

// Four floats at a time.
struct Sse2Ops {
  static __m128 Add(__m128 a, __m128 b) { return _mm_add_ps(a, b); }
  static __m128 Sub(__m128 a, __m128 b) { return _mm_sub_ps(a, b); }
  static __m128 Mul(__m128 a, __m128 b) { return _mm_mul_ps(a, b); }
  static __m128 Splat(float a) { return _mm_set1_ps(a); }
};

// Transposes the 8 x 8 block held as left[row] (columns 0-3) and
// right[row] (columns 4-7).
inline void Transpose8(__m128 left[8], __m128 right[8]) {
  _MM_TRANSPOSE4_PS(left[0], left[1], left[2], left[3]);
  _MM_TRANSPOSE4_PS(left[4], left[5], left[6], left[7]);
  _MM_TRANSPOSE4_PS(right[0], right[1], right[2], right[3]);
  _MM_TRANSPOSE4_PS(right[4], right[5], right[6], right[7]);
  // Now the top-right and bottom-left quarters are in each other's places.
  for (int i = 0; i < 4; ++i) {
    const __m128 swap = left[4 + i];
    left[4 + i] = right[i];
    right[i] = swap;
  }
}

std::uint64_t QuantisePortable(const float* samples, int stride, const float* divisors,
                               std::int16_t* values) {
  __m128 left[8];
  __m128 right[8];
  for (int r = 0; r < 8; ++r) {
    left[r] = _mm_loadu_ps(samples + r * stride);
    right[r] = _mm_loadu_ps(samples + r * stride + 4);
  }
  // Rows: transposed, vector k of `left` holds column k of rows 0-3 and of
  // `right` column k of rows 4-7.
  Transpose8(left, right);
  ForwardDct8<__m128, Sse2Ops>(left);
  ForwardDct8<__m128, Sse2Ops>(right);
  Transpose8(left, right);
  // Columns: vector r holds row r, four columns at a time.
  ForwardDct8<__m128, Sse2Ops>(left);
  ForwardDct8<__m128, Sse2Ops>(right);
  const __m128 half = _mm_set1_ps(0.5f);
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m128i zero = _mm_setzero_si128();
  std::uint64_t zeros = 0;  // natural positions
  __m128i previousRow = zero;
  for (int r = 0; r < 8; ++r) {
    const __m128 a = _mm_mul_ps(left[r], _mm_load_ps(divisors + r * 8));
    const __m128 b = _mm_mul_ps(right[r], _mm_load_ps(divisors + r * 8 + 4));
    const __m128i qa = _mm_cvttps_epi32(_mm_add_ps(a, _mm_or_ps(half, _mm_and_ps(a, sign))));
    const __m128i qb = _mm_cvttps_epi32(_mm_add_ps(b, _mm_or_ps(half, _mm_and_ps(b, sign))));
    const __m128i row = _mm_packs_epi32(qa, qb);
    _mm_store_si128(reinterpret_cast<__m128i*>(values + r * 8), row);
    if (r % 2 == 1) {
      const __m128i isZero =
          _mm_packs_epi16(_mm_cmpeq_epi16(previousRow, zero), _mm_cmpeq_epi16(row, zero));
      zeros |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(isZero)))
               << ((r - 1) * 8);
    }
    previousRow = row;
  }
  return zeros;
}

#else

std::uint64_t QuantisePortable(const float* samples, int stride, const float* divisors,
                               std::int16_t* values) {
  float block[64];
  for (int r = 0; r < 8; ++r) std::memcpy(block + r * 8, samples + r * stride, 8 * sizeof(float));
  for (int r = 0; r < 64; r += 8) ForwardDct8<float, FloatOps>(&block[r]);
  for (int c = 0; c < 8; ++c) {
    float column[8];
    for (int k = 0; k < 8; ++k) column[k] = block[c + k * 8];
    ForwardDct8<float, FloatOps>(column);
    for (int k = 0; k < 8; ++k) block[c + k * 8] = column[k];
  }
  std::uint64_t zeros = 0;
  for (int i = 0; i < 64; ++i) {
    const float v = block[i] * divisors[i];
    values[i] = static_cast<std::int16_t>(static_cast<int>(v < 0 ? v - 0.5f : v + 0.5f));
    zeros |= std::uint64_t{values[i] == 0} << i;
  }
  return zeros;
}

#endif

void ToYCbCrPortable(const std::uint8_t* rgba, int count, float* y, float* cb, float* cr) {
#if KORVELA_SSE2
  const __m128i byteMask = _mm_set1_epi32(0xFF);
  for (int i = 0; i < count; i += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + i * 4));
    const __m128 r = _mm_cvtepi32_ps(_mm_and_si128(p, byteMask));
    const __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 8), byteMask));
    const __m128 b = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 16), byteMask));
    __m128 luma, blue, red;
    YCbCrOf<__m128, Sse2Ops>(r, g, b, luma, blue, red);
    _mm_storeu_ps(y + i, luma);
    _mm_storeu_ps(cb + i, blue);
    _mm_storeu_ps(cr + i, red);
  }
#else
  for (int i = 0; i < count; ++i) {
    YCbCrOf<float, FloatOps>(rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2], y[i], cb[i], cr[i]);
  }
#endif
}

// Copies the side x side pixels at (x, y) into `block`, repeating the last
// column and row where the square runs past the image.
void GatherSquare(const RgbaImage& image, int x, int y, int side, std::uint8_t* block) {
  const std::size_t rowBytes = static_cast<std::size_t>(side) * 4;
  const int inside = std::min(side, image.width - x);
  for (int r = 0; r < side; ++r) {
    const std::uint8_t* source = image.At(x, std::min(y + r, image.height - 1));
    std::uint8_t* target = block + r * rowBytes;
    std::memcpy(target, source, static_cast<std::size_t>(inside) * 4);
    for (int c = inside; c < side; ++c) std::memcpy(target + c * 4, source + (inside - 1) * 4, 4);
  }
}

void WriteHeaders(ByteWriter& out, const Tables& t, int width, int height,
                  std::string_view segments) {
  static constexpr std::uint8_t kStart[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I',
                                            'F',  0,    1,    1,    0, 0,    1,   0,   1,
                                            0,    0,    0xFF, 0xDB, 0, 0x84, 0};
  // The start of the image and its JFIF segment, which must come first; then
  // the caller's segments; then the tables.
  constexpr std::size_t kJfifEnd = 20;
  out.Put(kStart, kJfifEnd);
  if (!segments.empty()) {
    out.Put(reinterpret_cast<const std::uint8_t*>(segments.data()), segments.size());
  }
  out.Put(kStart + kJfifEnd, sizeof kStart - kJfifEnd);
  out.Put(t.lumaQuant, 64);
  out.Put(1);
  out.Put(t.chromaQuant, 64);
  const std::uint8_t frame[] = {0xFF,
                                0xC0,
                                0,
                                0x11,
                                8,
                                static_cast<std::uint8_t>(height >> 8),
                                static_cast<std::uint8_t>(height),
                                static_cast<std::uint8_t>(width >> 8),
                                static_cast<std::uint8_t>(width),
                                3,
                                1,
                                static_cast<std::uint8_t>(t.subsample ? 0x22 : 0x11),
                                0,
                                2,
                                0x11,
                                1,
                                3,
                                0x11,
                                1,
                                0xFF,
                                0xC4,
                                0x01,
                                0xA2,
                                0};
  out.Put(frame, sizeof frame);
  out.Put(kLumaDcCounts, 16);
  out.Put(kDcSymbols, 12);
  out.Put(0x10);
  out.Put(kLumaAcCounts, 16);
  out.Put(kLumaAcSymbols, 162);
  out.Put(1);
  out.Put(kChromaDcCounts, 16);
  out.Put(kDcSymbols, 12);
  out.Put(0x11);
  out.Put(kChromaAcCounts, 16);
  out.Put(kChromaAcSymbols, 162);
  static constexpr std::uint8_t kScanStart[] = {0xFF, 0xDA, 0, 0xC,  3, 1,    0,
                                                2,    0x11, 3, 0x11, 0, 0x3F, 0};
  out.Put(kScanStart, sizeof kScanStart);
}

// One block's coefficients and the mask of those not zero, in zigzag order.
void Quantise(const JpegKernels& kernels, const float* samples, int stride, const float* divisors,
              Coefficients& out) {
  const std::uint64_t zeros = kernels.quantise(samples, stride, divisors, out.values);
  out.nonZero = ZigZagMask(~zeros) & ~std::uint64_t{1};
}

// The DC predictors of the three components, carried from one macroblock to
// the next.
struct DcPredictors {
  int y = 0;
  int cb = 0;
  int cr = 0;
};

// The writers of macroblocks `first` .. `end` - 1 in raster order, starting
// from the predictors `dc`; each returns the predictors after them.

// 4:4:4: one block of each component per 8 x 8 pixels.
template <class Bits>
DcPredictors WriteFullChroma(const RgbaImage& image, const Tables& t, const JpegKernels& kernels,
                             Bits& bits, std::int64_t first, std::int64_t end, DcPredictors dc) {
  alignas(16) std::uint8_t pixels[64 * 4];
  alignas(16) std::uint8_t previous[64 * 4];
  alignas(16) float y[64], cb[64], cr[64];
  Coefficients cy, ccb, ccr;
  bool havePrevious = false;
  const std::int64_t across = (image.width + 7) / 8;
  for (std::int64_t m = first; m < end; ++m) {
    const int top = static_cast<int>(m / across) * 8;
    const int left = static_cast<int>(m % across) * 8;
    GatherSquare(image, left, top, 8, pixels);
    if (!havePrevious || std::memcmp(pixels, previous, sizeof pixels) != 0) {
      kernels.toYCbCr(pixels, 64, y, cb, cr);
      Quantise(kernels, y, 8, t.luma.divisors, cy);
      Quantise(kernels, cb, 8, t.chroma.divisors, ccb);
      Quantise(kernels, cr, 8, t.chroma.divisors, ccr);
      std::memcpy(previous, pixels, sizeof pixels);
      havePrevious = true;
    }
    dc.y = WriteBlock(bits, cy, dc.y, t.luma);
    dc.cb = WriteBlock(bits, ccb, dc.cb, t.chroma);
    dc.cr = WriteBlock(bits, ccr, dc.cr, t.chroma);
  }
  return dc;
}

// 4:2:0: four luma blocks and one of each chroma component per 16 x 16
// pixels, the chroma the mean of each 2 x 2.
template <class Bits>
DcPredictors WriteHalfChroma(const RgbaImage& image, const Tables& t, const JpegKernels& kernels,
                             Bits& bits, std::int64_t first, std::int64_t end, DcPredictors dc) {
  alignas(16) std::uint8_t pixels[256 * 4];
  alignas(16) std::uint8_t previous[256 * 4];
  alignas(16) float y[256], cb[256], cr[256], subCb[64], subCr[64];
  Coefficients cy[4], ccb, ccr;
  bool havePrevious = false;
  const std::int64_t across = (image.width + 15) / 16;
  for (std::int64_t m = first; m < end; ++m) {
    const int top = static_cast<int>(m / across) * 16;
    const int left = static_cast<int>(m % across) * 16;
    GatherSquare(image, left, top, 16, pixels);
    if (!havePrevious || std::memcmp(pixels, previous, sizeof pixels) != 0) {
      kernels.toYCbCr(pixels, 256, y, cb, cr);
      Quantise(kernels, y, 16, t.luma.divisors, cy[0]);
      Quantise(kernels, y + 8, 16, t.luma.divisors, cy[1]);
      Quantise(kernels, y + 128, 16, t.luma.divisors, cy[2]);
      Quantise(kernels, y + 136, 16, t.luma.divisors, cy[3]);
      for (int r = 0, k = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c, ++k) {
          const int j = r * 32 + c * 2;
          subCb[k] = (cb[j] + cb[j + 1] + cb[j + 16] + cb[j + 17]) * 0.25f;
          subCr[k] = (cr[j] + cr[j + 1] + cr[j + 16] + cr[j + 17]) * 0.25f;
        }
      }
      Quantise(kernels, subCb, 8, t.chroma.divisors, ccb);
      Quantise(kernels, subCr, 8, t.chroma.divisors, ccr);
      std::memcpy(previous, pixels, sizeof pixels);
      havePrevious = true;
    }
    for (const Coefficients& block : cy) dc.y = WriteBlock(bits, block, dc.y, t.luma);
    dc.cb = WriteBlock(bits, ccb, dc.cb, t.chroma);
    dc.cr = WriteBlock(bits, ccr, dc.cr, t.chroma);
  }
  return dc;
}

template <class Bits>
DcPredictors WriteMacroblocks(const RgbaImage& image, const Tables& t, const JpegKernels& kernels,
                              Bits& bits, std::int64_t first, std::int64_t end, DcPredictors dc) {
  return t.subsample ? WriteHalfChroma(image, t, kernels, bits, first, end, dc)
                     : WriteFullChroma(image, t, kernels, bits, first, end, dc);
}

// Codes macroblocks `first` .. `end` - 1 into `bits`, starting from the
// predictors the macroblock before `first` leaves (coded again for them:
// one macroblock, so that no part waits for the one before it).
void WritePart(const RgbaImage& image, const Tables& t, const JpegKernels& kernels,
               BitRecorder& bits, std::int64_t first, std::int64_t end) {
  NoBits none;
  const DcPredictors dc =
      first > 0 ? WriteMacroblocks(image, t, kernels, none, first - 1, first, DcPredictors{})
                : DcPredictors{};
  WriteMacroblocks(image, t, kernels, bits, first, end, dc);
}

}  // namespace

JpegKernels PortableJpegKernels() { return {ToYCbCrPortable, QuantisePortable}; }

JpegKernels Avx2JpegKernels() {
#if KORVELA_AVX2_KERNELS
  if (ProcessorHasAvx2()) return {ToYCbCrAvx2, QuantiseAvx2};
#endif
  return {nullptr, nullptr};
}

const JpegKernels& ChosenJpegKernels() {
  static const JpegKernels chosen = [] {
    const JpegKernels avx2 = Avx2JpegKernels();
    return avx2.quantise ? avx2 : PortableJpegKernels();
  }();
  return chosen;
}

bool EncodeJpeg(const RgbaImage& image, int quality, const JpegBytesSink& sink,
                std::string_view segments, std::atomic<std::int64_t>* helperTime) {
  // A page is coded in parts on as many threads as the processor runs (up to
  // four): the last page of a run has no other work beside it.
  const long long pixels = static_cast<long long>(image.width) * image.height;
  const unsigned threads = std::thread::hardware_concurrency();
  const int parts =
      pixels >= kPixelsCodedInParts ? static_cast<int>(std::clamp(threads, 1u, 4u)) : 1;
  return EncodeJpegWith(image, quality, sink, ChosenJpegKernels(), parts, segments, helperTime);
}

bool EncodeJpegWith(const RgbaImage& image, int quality, const JpegBytesSink& sink,
                    const JpegKernels& kernels, int parts, std::string_view segments,
                    std::atomic<std::int64_t>* helperTime) {
  if (image.empty() || image.width > 0xFFFF || image.height > 0xFFFF) return false;
  const Tables tables = MakeTables(quality);
  const int side = tables.subsample ? 16 : 8;
  const std::int64_t macroblocks = static_cast<std::int64_t>((image.width + side - 1) / side) *
                                   ((image.height + side - 1) / side);
  // The first part is coded here, each other one on a thread of its own into
  // bits kept aside. A part whose thread cannot start, or runs out of
  // memory, is coded here once that thread is done.
  const std::int64_t partCount = std::clamp<std::int64_t>(parts, 1, macroblocks);
  const auto partStart = [&](std::int64_t part) { return macroblocks * part / partCount; };
  struct LaterPart {
    BitRecorder bits;
    bool coded = false;
  };
  std::vector<LaterPart> later(static_cast<std::size_t>(partCount - 1));
  const auto codePart = [&](std::size_t i) {
    const std::int64_t part = static_cast<std::int64_t>(i) + 1;
    later[i].bits = BitRecorder();
    WritePart(image, tables, kernels, later[i].bits, partStart(part), partStart(part + 1));
    later[i].coded = true;
  };
  std::vector<std::thread> helpers;
  helpers.reserve(later.size());
  struct Joiner {
    std::vector<std::thread>& threads;
    ~Joiner() {
      for (std::thread& thread : threads) {
        if (thread.joinable()) thread.join();
      }
    }
  } joiner{helpers};
  for (std::size_t i = 0; i < later.size(); ++i) {
    try {
      helpers.emplace_back([&codePart, i, helperTime] {
        // The parts' work counts as the picture's encoding, on whichever thread.
        std::optional<StageTimer> timer;
        if (helperTime) timer.emplace(*helperTime);
        try {
          codePart(i);
        } catch (const std::bad_alloc&) {
        }
      });
    } catch (const std::system_error&) {
      break;
    }
  }

  ByteWriter out(sink);
  WriteHeaders(out, tables, image.width, image.height, segments);
  {
    BitWriter bits(out);
    WriteMacroblocks(image, tables, kernels, bits, 0, partStart(1), DcPredictors{});
    for (std::thread& thread : helpers) thread.join();
    for (std::size_t i = 0; i < later.size(); ++i) {
      if (!later[i].coded) codePart(i);
      later[i].bits.WriteTo(bits);
    }
    bits.Finish();
  }
  out.Put(0xFF);
  out.Put(0xD9);
  return out.Flush();
}

}  // namespace sheetsmith
