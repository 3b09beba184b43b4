// The host's colour profiles against Little CMS, and what a photo carries.
#include "icc_profiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <lcms2.h>

#include "test_photos.h"

namespace runner {
namespace {

std::string FreeProfile(const std::string& name) {
  return testsupport::ReadBytes("/usr/share/color/icc/" + name);
}

// Colours of a grid through Little CMS from sRGB to a profile.
std::vector<std::uint8_t> FromSrgb(const std::string& profile) {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHPROFILE target =
      cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
  EXPECT_NE(target, nullptr);
  std::vector<std::uint8_t> in;
  for (int r = 0; r < 256; r += 15)
    for (int g = 0; g < 256; g += 15)
      for (int b = 0; b < 256; b += 15)
        in.insert(in.end(), {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
  std::vector<std::uint8_t> out(in.size());
  if (target) {
    cmsHTRANSFORM transform =
        cmsCreateTransform(srgb, TYPE_RGB_8, target, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    cmsDoTransform(transform, in.data(), out.data(), static_cast<cmsUInt32Number>(in.size() / 3));
    cmsDeleteTransform(transform);
    cmsCloseProfile(target);
  }
  cmsCloseProfile(srgb);
  return out;
}

int LargestDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  int largest = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    largest = std::max(largest, std::abs(a[i] - b[i]));
  }
  return a.size() == b.size() ? largest : 256;
}

// The profiles the host makes convert as published ones do: its sRGB as
// Little CMS's own, its Adobe RGB as the free profile compatible with it.
TEST(IccProfilesTest, TheHostsProfilesConvertAsPublishedOnesDo) {
  EXPECT_LE(LargestDifference(FromSrgb(HostSrgbProfile()), FromSrgb(FreeProfile("sRGB.icc"))), 1);
  EXPECT_LE(LargestDifference(FromSrgb(HostAdobeRgbProfile()),
                              FromSrgb(FreeProfile("compatibleWithAdobeRGB1998.icc"))),
            1);
  for (const std::string* made : {&HostSrgbProfile(), &HostAdobeRgbProfile()}) {
    std::string problem;
    const std::optional<IccProfile> parsed = ParseIccProfile(*made, &problem);
    ASSERT_TRUE(parsed) << problem;
    EXPECT_EQ(ReasonNotATarget(*parsed), std::nullopt);
    EXPECT_THAT(parsed->description, ::testing::EndsWith("(Korvela)"));
  }
}

// A profile is found whole in a JPEG's chunks, in their numbered order, and
// in a PNG's iCCP chunk; a damaged one is named as such.
TEST(IccProfilesTest, EmbeddedProfilesAreFoundWholeOrNamedDamaged) {
  const std::string profile = FreeProfile("compatibleWithAdobeRGB1998.icc");
  const std::string a = profile.substr(0, 200), b = profile.substr(200, 200),
                    c = profile.substr(400);
  const std::string jpeg = testsupport::EncodeJpeg(testsupport::Solid(16, 16, {1, 2, 3}), 90);
  const auto withChunks = [&jpeg](std::initializer_list<std::string> segments) {
    std::string all;
    for (const std::string& segment : segments) all += segment;
    return testsupport::InsertAfterSoi(jpeg, all);
  };
  using testsupport::IccChunkSegment;
  const std::string png = [] {
    testsupport::TempDir dir;
    testsupport::WritePng(dir.File("p.png"), testsupport::Solid(8, 8, {1, 2, 3}));
    return testsupport::ReadBytes(dir.File("p.png"));
  }();
  std::string badCrc = testsupport::WithIccpChunk(png, profile);
  badCrc[45] ^= 1;  // in the chunk's data
  using State = EmbeddedProfile::State;
  const struct {
    const char* name;
    std::string file;
    State state;
    std::string problem;
  } cases[] = {
      {"one chunk", withChunks({IccChunkSegment(profile, 1, 1)}), State::kFound, ""},
      {"three, out of order",
       withChunks({IccChunkSegment(b, 2, 3), IccChunkSegment(c, 3, 3), IccChunkSegment(a, 1, 3)}),
       State::kFound, ""},
      {"one missing", withChunks({IccChunkSegment(a, 1, 3), IccChunkSegment(c, 3, 3)}),
       State::kDamaged, "a chunk is missing"},
      {"counts disagree", withChunks({IccChunkSegment(a, 1, 2), IccChunkSegment(b, 2, 3)}),
       State::kDamaged, "its chunks disagree on their count"},
      {"numbered 0", withChunks({IccChunkSegment(profile, 0, 1)}), State::kDamaged,
       "a chunk is numbered out of range"},
      {"cut short", withChunks({IccChunkSegment(a, 1, 2), IccChunkSegment(b, 2, 2)}).substr(0, 300),
       State::kDamaged, "the file is cut short"},
      {"none in a JPEG", jpeg, State::kNone, ""},
      {"PNG", testsupport::WithIccpChunk(png, profile), State::kFound, ""},
      {"PNG, wrong checksum", badCrc, State::kDamaged, "its chunk's checksum is wrong"},
      {"none in a PNG", png, State::kNone, ""},
      {"no photo", "text", State::kNone, ""},
  };
  for (const auto& c : cases) {
    const EmbeddedProfile found = FindEmbeddedProfile(c.file);
    EXPECT_EQ(found.state, c.state) << c.name;
    EXPECT_EQ(found.problem, c.problem) << c.name;
    if (c.state == State::kFound) {
      EXPECT_TRUE(found.bytes == profile) << c.name;
    }
  }
}

// Split into chunks of the format's size and put into a JPEG, a profile of
// any size comes back the same.
TEST(IccProfilesTest, AProfileSplitIntoChunksComesBackWhole) {
  std::string large(150000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7919 % 251);
  const std::vector<std::string> segments = IccSegments(large);
  ASSERT_EQ(segments.size(), 3u);
  for (const std::string& segment : segments) EXPECT_LE(segment.size(), 65537u);
  const std::string jpeg = testsupport::EncodeJpeg(testsupport::Solid(16, 16, {1, 2, 3}), 90);
  const std::optional<std::string> carried = EmbedSegments(jpeg, segments);
  ASSERT_TRUE(carried);
  const EmbeddedProfile found = FindEmbeddedProfile(*carried);
  EXPECT_EQ(found.state, EmbeddedProfile::State::kFound);
  EXPECT_TRUE(found.bytes == large);
  EXPECT_EQ(EmbedSegments("not a JPEG", segments), std::nullopt);
}

// What a bake does with a photo's colours for each selection.
TEST(IccProfilesTest, ThePlanFollowsTheSelectionAndWhatThePhotoCarries) {
  const std::string jpeg = testsupport::EncodeJpeg(testsupport::Solid(16, 16, {1, 2, 3}), 90);
  const std::string adobe = FreeProfile("compatibleWithAdobeRGB1998.icc");
  const std::string tagged =
      testsupport::InsertAfterSoi(jpeg, testsupport::IccChunkSegment(adobe, 1, 1));
  const std::string damaged =
      testsupport::InsertAfterSoi(jpeg, testsupport::IccChunkSegment(adobe, 1, 2));
  const ProfileFileReader files = [&](const std::string& path) -> std::optional<std::string> {
    if (path == "missing.icc") return std::nullopt;
    if (path == "notes.txt") return std::string(300, 'x');
    if (path == "hostadobe.icc") return HostAdobeRgbProfile();
    if (path == "link.icc")
      return HostSrgbProfile().substr(0, 12) + "link" + HostSrgbProfile().substr(16);
    return FreeProfile(path);
  };
  const struct {
    std::string selection;
    const std::string* photo;
    bool convert, embed;
    std::string failure;
    std::string log;
  } cases[] = {
      {"srgb", &jpeg, false, false, "", ""},
      {"something else", &jpeg, false, false, "", ""},
      {"no_conversion", &jpeg, false, false, "", ""},
      {"no_conversion", &tagged, false, true, "", ""},  // its own profile, carried
      {"no_conversion", &damaged, false, false, "", ""},
      {"srgb", &tagged, true, true, "", ""},
      {"adobe_rgb", &jpeg, true, true, "", ""},
      {"srgb", &damaged, false, false, "", "(a chunk is missing); its colors are taken as sRGB"},
      {"custom:LStar-RGB.icc", &jpeg, true, true, "", ""},
      {"custom:missing.icc", &jpeg, false, false,
       "Color profile missing.icc cannot be used: the file cannot be read", ""},
      {"custom:notes.txt", &jpeg, false, false,
       "Color profile notes.txt cannot be used: it is not an ICC profile", ""},
      {"custom:Gray.icc", &jpeg, false, false,
       "Color profile Gray.icc cannot be used: it holds GRAY colors, not RGB", ""},
      {"custom:link.icc", &jpeg, false, false,
       "Color profile link.icc cannot be used: colors cannot be converted to a profile of class "
       "link",
       ""},
      {"custom:CineLogCurve.icc", &jpeg, false, false,
       "Color profile CineLogCurve.icc cannot be used: it holds Lab colors, not RGB", ""},
  };
  for (const auto& c : cases) {
    std::string log;
    const ColorPlan plan =
        PlanColors(c.selection, *c.photo, files, [&log](const std::string& line) { log += line; });
    EXPECT_EQ(plan.convert, c.convert) << c.selection;
    EXPECT_EQ(plan.embedTarget, c.embed) << c.selection;
    EXPECT_EQ(plan.failure, c.failure) << c.selection;
    EXPECT_THAT(log, ::testing::HasSubstr(c.log)) << c.selection;
  }
  // Under "no conversion" what a photo carries is its own profile.
  EXPECT_TRUE(PlanColors("no_conversion", tagged, files, [](const std::string&) {}).target ==
              adobe);
  // A photo already in the target's profile is carried over, not converted.
  const std::string inAdobe =
      testsupport::InsertAfterSoi(jpeg, testsupport::IccChunkSegment(HostAdobeRgbProfile(), 1, 1));
  const ColorPlan same = PlanColors("adobe_rgb", inAdobe, files, [](const std::string&) {});
  EXPECT_FALSE(same.convert);
  EXPECT_TRUE(same.embedTarget);
}

// Grey and CMYK pixels the reader gives are converted by their own profile
// as they are read, and the canvas is then not converted again; RGB ones,
// and those whose profile does not fit them, are planned as before.
TEST(IccProfilesTest, ReaderPixelsThatAreNotRgbTakeTheirOwnProfileAsTheyAreRead) {
  using sheetsmith::SourceColors;
  const auto found = [](const std::string& bytes) {
    EmbeddedProfile profile;
    profile.state = EmbeddedProfile::State::kFound;
    profile.bytes = bytes;
    return profile;
  };
  const EmbeddedProfile gray = found(FreeProfile("Gray.icc"));
  const EmbeddedProfile cmyk = found(testsupport::ReadBytes(
      "/usr/share/color/icc/ghostscript/default_cmyk.icc"));
  const EmbeddedProfile adobe = found(FreeProfile("compatibleWithAdobeRGB1998.icc"));
  const struct {
    const char* name;
    std::string selection;
    EmbeddedProfile profile;
    SourceColors pixels;
    bool atRead, canvas, embed;
  } cases[] = {
      {"grey, sRGB", "srgb", gray, SourceColors::kGray, true, false, true},
      {"CMYK, Adobe RGB", "adobe_rgb", cmyk, SourceColors::kCmyk, true, false, true},
      {"grey, no conversion", "no_conversion", gray, SourceColors::kGray, false, false, false},
      {"RGB pixels, Adobe profile", "srgb", adobe, SourceColors::kRgb, false, true, true},
      {"grey pixels, RGB profile", "srgb", adobe, SourceColors::kGray, true, false, true},
      {"CMYK pixels, grey profile", "srgb", gray, SourceColors::kCmyk, false, false, false},
      {"untagged grey", "srgb", EmbeddedProfile{}, SourceColors::kGray, false, false, false},
  };
  for (const auto& c : cases) {
    const ColorPlan plan = PlanColors(c.selection, c.profile, c.pixels,
                                      [](const std::string&) { return std::nullopt; },
                                      [](const std::string&) {});
    EXPECT_EQ(plan.photo.conversion != nullptr, c.atRead) << c.name;
    EXPECT_EQ(plan.convert, c.canvas) << c.name;
    EXPECT_EQ(plan.embedTarget, c.embed) << c.name;
  }
  // Linear grey 128 is sRGB 188, as Little CMS makes it.
  const ColorPlan plan =
      PlanColors("srgb", gray, SourceColors::kGray, [](const std::string&) { return std::nullopt; },
                 [](const std::string&) {});
  ASSERT_TRUE(plan.photo.conversion);
  std::uint8_t pixel[4] = {128, 128, 128, 255};
  plan.photo.conversion->Apply(pixel, 1);
  EXPECT_NEAR(pixel[0], 188, 1);
  EXPECT_NEAR(pixel[2], 188, 1);
  EXPECT_EQ(pixel[3], 255);
}

}  // namespace
}  // namespace runner
