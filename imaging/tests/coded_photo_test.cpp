// What the readers of phone and browser photos decide before and beside the
// decoders: a file's format from its first bytes, the limits a HEIF file's
// boxes are held to, the profiles made from nclx code points, and where high
// dynamic range light lands on a page.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <string>

#include "imaging/color/nclx_profile.h"
#include "imaging/reading/heif_reader.h"
#include "imaging/reading/photo_format.h"

namespace sheetsmith {
namespace {

std::string Box(std::string_view type, std::string_view content) {
  const std::size_t size = content.size() + 8;
  std::string box = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                     static_cast<char>(size >> 8), static_cast<char>(size)};
  return box + std::string(type) + std::string(content);
}

TEST(CodedPhotoTest, TheFormatIsToldByTheFirstBytes) {
  const struct {
    std::string head;
    PhotoFormat format;
  } cases[] = {
      {"\xFF\xD8\xFF\xE0", PhotoFormat::kJpeg},
      {"\x89PNG\r\n\x1A\n", PhotoFormat::kPng},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), PhotoFormat::kWebp},
      {std::string("RIFF\x10\0\0\0AVI LIST", 16), PhotoFormat::kUnknown},
      {Box("ftyp", std::string("heic\0\0\0\0mif1heic", 16)), PhotoFormat::kHeic},
      // An AVIF by a compatible brand, under the general HEIF major brand.
      {Box("ftyp", std::string("mif1\0\0\0\0mif1miafavif", 20)), PhotoFormat::kAvif},
      {Box("ftyp", std::string("avis\0\0\0\0msf1", 12)), PhotoFormat::kAvif},
      // A video's ftyp is no photo.
      {Box("ftyp", std::string("isom\0\0\0\0isomavc1", 16)), PhotoFormat::kUnknown},
      // A box claiming less than its own header.
      {std::string("\0\0\0\x04"
                   "ftypheic",
                   12),
       PhotoFormat::kUnknown},
      {std::string("II*\0", 4), PhotoFormat::kUnknown},
      {"", PhotoFormat::kUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SniffPhotoFormat(c.head), c.format) << PhotoFormatName(c.format);
  }
}

TEST(CodedPhotoTest, TheItemCountIsReadAndBoxesPastTheEndAreCutShort) {
  const std::string ftyp = Box("ftyp", std::string("heic\0\0\0\0mif1", 12));
  // meta (version, flags) holding iinf (version 0: a 16-bit count, 1: 32-bit).
  const std::string meta16 =
      Box("meta", std::string(4, '\0') + Box("iinf", std::string("\0\0\0\0\x01\x2C", 6)));
  const std::string meta32 =
      Box("meta", std::string(4, '\0') + Box("iinf", std::string("\x01\0\0\0\0\x01\0\0", 8)));
  const struct {
    std::string file;
    std::optional<std::uint64_t> items;
    bool cutShort;
  } cases[] = {
      {ftyp + meta16, 300, false},
      {ftyp + meta32, 65536, false},
      {ftyp + meta16.substr(0, meta16.size() - 1), std::nullopt, true},
      {ftyp + Box("mdat", "").substr(0, 6), std::nullopt, true},
      // A box whose size is smaller than its header is damaged, not short.
      {ftyp + std::string("\0\0\0\x03meta", 8), std::nullopt, false},
  };
  for (const auto& c : cases) {
    bool cutShort = false;
    EXPECT_EQ(HeifItemCount(c.file, cutShort), c.items);
    EXPECT_EQ(cutShort, c.cutShort);
  }
  ReadProblem problem;
  EXPECT_FALSE(ReadHeif(ftyp + meta32, &problem));
  EXPECT_EQ(problem.kind, ReadProblem::Kind::kTooLarge) << problem.detail;
}

// Published coordinates: Display P3's red is CIE xy (0.680, 0.320) and its
// white D65; BT.2020's green (0.170, 0.797). Little CMS gives colours
// adapted to D50, its connection space; they are taken back to D65 with
// the same (Bradford) adaptation.
TEST(CodedPhotoTest, NclxCodePointsBecomeTheirProfiles) {
  EXPECT_EQ(NclxProfile({1, 13}).state, EmbeddedProfile::State::kNone);
  EXPECT_EQ(NclxProfile({2, 2}).state, EmbeddedProfile::State::kNone);
  EXPECT_EQ(NclxProfile({3, 13}).state, EmbeddedProfile::State::kDamaged);
  EXPECT_EQ(NclxProfile({12, 99}).state, EmbeddedProfile::State::kDamaged);
  EXPECT_EQ(NclxProfile({12, 13}).bytes, NclxProfile({12, 13}).bytes);

  const struct {
    Nclx nclx;
    double in[3];
    double x, y;
  } cases[] = {
      {{12, 13}, {1, 0, 0}, 0.680, 0.320},
      {{12, 13}, {1, 1, 1}, 0.3127, 0.3290},
      {{9, 1}, {0, 1, 0}, 0.170, 0.797},
  };
  for (const auto& c : cases) {
    const EmbeddedProfile made = NclxProfile(c.nclx);
    ASSERT_EQ(made.state, EmbeddedProfile::State::kFound);
    cmsHPROFILE profile =
        cmsOpenProfileFromMem(made.bytes.data(), static_cast<cmsUInt32Number>(made.bytes.size()));
    cmsHPROFILE xyz = cmsCreateXYZProfile();
    cmsHTRANSFORM toXyz = cmsCreateTransform(profile, TYPE_RGB_DBL, xyz, TYPE_XYZ_DBL,
                                             INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsCIEXYZ d50{};
    cmsDoTransform(toXyz, c.in, &d50, 1);
    const cmsCIExyY whiteXyY = {0.3127, 0.3290, 1.0};
    cmsCIEXYZ white{};
    cmsxyY2XYZ(&white, &whiteXyY);
    cmsCIEXYZ out{};
    cmsAdaptToIlluminant(&out, cmsD50_XYZ(), &white, &d50);
    const double sum = out.X + out.Y + out.Z;
    EXPECT_NEAR(out.X / sum, c.x, 0.002) << c.nclx.primaries << "/" << c.nclx.transfer;
    EXPECT_NEAR(out.Y / sum, c.y, 0.002) << c.nclx.primaries << "/" << c.nclx.transfer;
    cmsDeleteTransform(toXyz);
    cmsCloseProfile(xyz);
    cmsCloseProfile(profile);
  }
}

// PQ signal for a luminance L (ST 2084), to check the rule from its inputs.
double PqSignal(double nits) {
  const double y = std::pow(nits / 10000, 2610.0 / 16384);
  return std::pow((3424.0 / 4096 + 2413.0 / 128 * y) / (1 + 2392.0 / 128 * y), 2523.0 / 32);
}

TEST(CodedPhotoTest, HighDynamicRangeLightKeepsMidtonesAndRollsOffHighlights) {
  const struct {
    int transfer;
    double signal;
    double low, high;
  } cases[] = {
      {kTransferPq, 0.0, 0.0, 1e-6},
      // Half of graphics white stays where it is.
      {kTransferPq, PqSignal(101.5), 0.499, 0.501},
      // Graphics white is near, not at, the page's white; brighter still
      // is brighter, and nothing is past white.
      {kTransferPq, PqSignal(203), 0.96, 0.97},
      {kTransferPq, PqSignal(1000), 0.999, 1.0},
      {kTransferPq, 1.0, 0.999, 1.0},
      // HLG: 75 % is graphics white on a 1000 cd/m2 display.
      {kTransferHlg, 0.75, 0.95, 0.97},
      {kTransferHlg, 0.0, 0.0, 1e-6},
  };
  for (const auto& c : cases) {
    const double light = HdrPageLight(c.transfer, c.signal);
    EXPECT_GE(light, c.low) << c.transfer << " " << c.signal;
    EXPECT_LE(light, c.high) << c.transfer << " " << c.signal;
  }
  for (int transfer : {kTransferPq, kTransferHlg}) {
    for (double s = 0.01; s <= 1.0; s += 0.01) {
      EXPECT_GE(HdrPageLight(transfer, s), HdrPageLight(transfer, s - 0.01)) << transfer;
    }
  }
}

}  // namespace
}  // namespace sheetsmith
