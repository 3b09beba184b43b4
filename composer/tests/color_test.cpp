// Colours on the composer's pages: pages of tagged photos held to the
// arithmetic of the primaries, computed here without Little CMS; untagged
// pages as they always were, targets that cannot be used, hostile profiles,
// and CMYK photos against Little CMS's own jpgicc.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "driver.h"
#include "imaging/color/color_plan.h"
#include "imaging/reading/photo_reader.h"
#include "test_photos.h"

namespace sheetsmith {
namespace {

// ---- The arithmetic of matrix/TRC profiles, from their published values.

using Matrix = std::array<std::array<double, 3>, 3>;
using Vector = std::array<double, 3>;

struct Space {
  double primaries[3][2];
  double (*decode)(double);  // encoded value to linear light
  double (*encode)(double);
};

double SrgbDecode(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double SrgbEncode(double v) {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}
double AdobeDecode(double v) { return std::pow(v, 563.0 / 256.0); }
double AdobeEncode(double v) { return std::pow(v, 256.0 / 563.0); }

const Space kSrgb = {{{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}, &SrgbDecode, &SrgbEncode};
const Space kDisplayP3 = {
    {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}}, &SrgbDecode, &SrgbEncode};
const Space kAdobe = {{{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}}, &AdobeDecode, &AdobeEncode};
constexpr double kWhite[2] = {0.3127, 0.3290};  // D65, every space here

Matrix Inverse(const Matrix& m) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  Matrix inverse{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
  }
  return inverse;
}

Vector Times(const Matrix& m, const Vector& v) {
  return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2],
          m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
          m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

// Linear RGB to XYZ: the primaries' columns scaled so that white is white.
Matrix ToXyz(const Space& space) {
  Matrix m{};
  for (int c = 0; c < 3; ++c) {
    const double x = space.primaries[c][0], y = space.primaries[c][1];
    m[0][c] = x / y;
    m[1][c] = 1;
    m[2][c] = (1 - x - y) / y;
  }
  const Vector white = {kWhite[0] / kWhite[1], 1, (1 - kWhite[0] - kWhite[1]) / kWhite[1]};
  const Vector scale = Times(Inverse(m), white);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] *= scale[c];
  return m;
}

// A colour from one space in another (the same white: no adaptation), the
// channels outside the target's gamut clipped, as a relative conversion does.
Rgb Convert(Rgb color, const Space& from, const Space& to) {
  const Vector linear = {from.decode(color.r / 255.0), from.decode(color.g / 255.0),
                         from.decode(color.b / 255.0)};
  const Vector out = Times(Inverse(ToXyz(to)), Times(ToXyz(from), linear));
  const auto byte = [&to](double v) {
    return static_cast<std::uint8_t>(std::lround(to.encode(std::clamp(v, 0.0, 1.0)) * 255));
  };
  return {byte(out[0]), byte(out[1]), byte(out[2])};
}

// A matrix/TRC profile of the space, made for the test with Little CMS.
double Same(double v) { return v; }
// sRGB's primaries with linear values: greys far from sRGB's.
const Space kLinear = {{{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}, &Same, &Same};

std::string ProfileOf(const Space& space, const char* description) {
  const double gamma = space.decode == &SrgbDecode ? 0 : space.decode == &Same ? 1.0 : 563.0 / 256.0;
  return testsupport::RgbProfile(space.primaries, gamma, description);
}

// Saturated and ordinary colours, each a flat patch on the test photos.
const Rgb kPatches[] = {{230, 40, 40},   {40, 200, 60},  {30, 60, 220},   {250, 220, 30},
                        {128, 128, 128}, {200, 120, 90}, {255, 255, 255}, {10, 10, 10}};
constexpr int kPatch = 48;

RgbaImage PatchPhoto() {
  RgbaImage photo = testsupport::Solid(kPatch * 4, kPatch * 2, {0, 0, 0});
  for (int y = 0; y < photo.height; ++y) {
    for (int x = 0; x < photo.width; ++x) {
      const Rgb c = kPatches[(y / kPatch) * 4 + x / kPatch];
      std::uint8_t* p = photo.At(x, y);
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
  }
  return photo;
}

// The colour at the middle of each patch.
std::vector<Rgb> PatchesOf(const RgbaImage& image) {
  std::vector<Rgb> patches;
  for (int i = 0; i < 8; ++i) {
    const std::uint8_t* p = image.At((i % 4) * kPatch + kPatch / 2, (i / 4) * kPatch + kPatch / 2);
    patches.push_back({p[0], p[1], p[2]});
  }
  return patches;
}

int Farthest(const RgbaImage& page, const std::vector<Rgb>& expected) {
  int farthest = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::uint8_t* p = page.At(static_cast<int>(i % 4) * kPatch + kPatch / 2,
                                    static_cast<int>(i / 4) * kPatch + kPatch / 2);
    farthest = std::max({farthest, std::abs(p[0] - expected[i].r), std::abs(p[1] - expected[i].g),
                         std::abs(p[2] - expected[i].b)});
  }
  return farthest;
}

// The patch photo alone on a page of its size, made by the composer.
class ColorPageTest : public ::testing::Test {
 protected:
  std::string Photo(const std::string& name, const std::string& profile) {
    std::string jpeg = testsupport::EncodeJpeg(PatchPhoto(), 100);
    if (!profile.empty()) {
      std::string segments;
      for (const std::string& segment : IccSegments(profile)) segments += segment;
      jpeg = testsupport::InsertAfterSoi(jpeg, segments);
    }
    const std::string path = dir.File(name);
    EXPECT_TRUE(testsupport::WriteBytes(path, jpeg));
    return path;
  }
  // The run's exit code; the page's bytes in `page`.
  int Compose(const std::string& photo, const std::string& settings, std::string* page,
              std::string* log = nullptr, const std::string& sections = "") {
    const std::string out = dir.File("page " + std::to_string(++pages) + ".jpg");
    const std::string job = dir.File("job.txt");
    EXPECT_TRUE(testsupport::WriteBytes(
        job, "[settings]\nrows=1\ncols=1\npageWidth=" + std::to_string(kPatch * 4) +
                 "\npageHeight=" + std::to_string(kPatch * 2) +
                 "\nmarginLeft=0\nmarginRight=0\nmarginTop=0\nmarginBottom=0\njpegQuality=100\n" +
                 settings + "[images]\n" + photo + "\n[outputs]\n" + out + "\n" + sections));
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    const int code = RunSheetsmith({"sheetsmith", job});
    const std::string err = ::testing::internal::GetCapturedStderr();
    ::testing::internal::GetCapturedStdout();
    if (log) *log = err;
    *page = testsupport::ReadBytes(out);
    return code;
  }
  static std::optional<RgbaImage> Pixels(const std::string& jpeg) {
    testsupport::TempDir temp;
    testsupport::WriteBytes(temp.File("p.jpg"), jpeg);
    return LoadRgba(temp.File("p.jpg"));
  }

  testsupport::TempDir dir{"sheetsmith colours"};
  int pages = 0;
};

// Conversions, and the pages of photos that need them, within 2 levels of
// the primaries' arithmetic on every patch; each page carries its target.
TEST_F(ColorPageTest, PagesAreConvertedAsTheirPrimariesSay) {
  const std::string p3 = ProfileOf(kDisplayP3, "Display P3 (test)");
  const std::string adobe = ProfileOf(kAdobe, "Adobe RGB (test)");
  const struct {
    const char* name;
    std::string photoProfile;  // empty: untagged
    const Space* from;
    std::string target;
    const Space* to;
    const std::string* carried;
  } cases[] = {
      {"Display P3 to sRGB", p3, &kDisplayP3, "", &kSrgb, &SrgbProfile()},
      {"Display P3 to sRGB, said", p3, &kDisplayP3, "colorTarget=srgb\n", &kSrgb, &SrgbProfile()},
      {"Adobe RGB to sRGB", adobe, &kAdobe, "colorTarget=srgb\n", &kSrgb, &SrgbProfile()},
      {"untagged to Adobe RGB", "", &kSrgb, "colorTarget=adobe_rgb\n", &kAdobe, &AdobeRgbProfile()},
      {"Display P3 to Adobe RGB", p3, &kDisplayP3, "colorTarget=adobe_rgb\n", &kAdobe,
       &AdobeRgbProfile()},
  };
  for (const auto& c : cases) {
    // From the patches as the photo's JPEG holds them.
    const std::optional<RgbaImage> stored = Pixels(testsupport::ReadBytes(Photo("photo.jpg", "")));
    ASSERT_TRUE(stored);
    std::vector<Rgb> expected;
    for (const Rgb& patch : PatchesOf(*stored)) expected.push_back(Convert(patch, *c.from, *c.to));
    // The conversion alone.
    const std::string source = c.photoProfile.empty() ? SrgbProfile() : c.photoProfile;
    const std::string target = c.to == &kSrgb ? SrgbProfile() : AdobeRgbProfile();
    std::string problem;
    const auto conversion =
        ColorConversion::Make(source, SourceColors::kRgb, target, PixelLayout::kRgba, &problem);
    ASSERT_TRUE(conversion) << c.name << ": " << problem;
    std::optional<RgbaImage> converted = Pixels(testsupport::ReadBytes(Photo("photo.jpg", "")));
    ASSERT_TRUE(converted);
    conversion->Apply(converted->data(),
                      static_cast<std::size_t>(converted->width) * converted->height);
    EXPECT_LE(Farthest(*converted, expected), 1) << c.name;
    // The page.
    std::string page;
    ASSERT_EQ(Compose(Photo("photo.jpg", c.photoProfile), c.target, &page), 0) << c.name;
    const std::optional<RgbaImage> pixels = Pixels(page);
    ASSERT_TRUE(pixels) << c.name;
    EXPECT_LE(Farthest(*pixels, expected), 2) << c.name;
    const EmbeddedProfile carried = FindEmbeddedProfile(page);
    EXPECT_EQ(carried.state, EmbeddedProfile::State::kFound) << c.name;
    EXPECT_TRUE(carried.bytes == *c.carried) << c.name;
  }
  // The profiles made for sRGB and Adobe RGB say what they are.
  for (const std::string* made : {&SrgbProfile(), &AdobeRgbProfile()}) {
    std::string problem;
    const std::optional<ProfileInfo> info = InspectProfile(*made, &problem);
    ASSERT_TRUE(info) << problem;
    EXPECT_EQ(ReasonNotATarget(*info), std::nullopt);
    EXPECT_EQ(info->colorSpace, IccSignature("RGB "));
  }
}

// Between two matrix/TRC profiles a conversion takes the quick road, and it
// makes what Little CMS makes, within a level, for every 5th level of each
// channel, in both pixel layouts; with a tabulated curve too.
// An untagged photo for sRGB, for a target no one knows, without the key or
// with no conversion: the very page of before, carrying nothing.
TEST_F(ColorPageTest, UntaggedPhotosForSrgbMakeThePageOfBefore) {
  const std::string photo = Photo("untagged.jpg", "");
  std::string before;
  ASSERT_EQ(Compose(photo, "", &before), 0);
  for (const char* settings : {"colorTarget=srgb\n", "colorTarget=Srgb\n", "colorTarget=\n",
                               "colorTarget=no_conversion\n"}) {
    std::string page;
    ASSERT_EQ(Compose(photo, settings, &page), 0) << settings;
    EXPECT_TRUE(page == before) << settings;
    EXPECT_EQ(FindEmbeddedProfile(page).state, EmbeddedProfile::State::kNone) << settings;
  }
  // No conversion leaves a tagged photo's numbers as they are, too.
  std::string tagged;
  ASSERT_EQ(
      Compose(Photo("p3.jpg", ProfileOf(kDisplayP3, "P3")), "colorTarget=no_conversion\n", &tagged),
      0);
  EXPECT_TRUE(tagged == before);
}

// A border's and the cut lines' colours are chosen in sRGB, as every colour
// of the interface: on a page of another target they are converted to it
// as photos are, and printed as the user chose them.
TEST_F(ColorPageTest, BordersAndCutLinesAreInTheTargetsColours) {
  const std::string photo = Photo("photo.jpg", "");
  // Two cells, the cut line between them; the first photo with a green
  // border inside its edge.
  const std::string settings = "cols=2\nshowCutGrid=1\ncutGridColor=gray\ncutGridWidthMm=2\n";
  const std::string border = "[effects]\n0,0.5,0,0.5,0.5,0,0,0,1,0,0,0,0,1,1,4278222848,0\n";
  const std::string linear = dir.File("linear.icc");
  ASSERT_TRUE(testsupport::WriteBytes(linear, ProfileOf(kLinear, "Linear (test)")));
  const struct {
    std::string target;
    const Space* space;
  } cases[] = {{"", &kSrgb},
               {"colorTarget=adobe_rgb\n", &kAdobe},
               {"colorTarget=custom:" + linear + "\n", &kLinear}};
  for (const auto& c : cases) {
    std::string page;
    ASSERT_EQ(Compose(photo, settings + c.target, &page, nullptr, border), 0) << c.target;
    const std::optional<RgbaImage> pixels = Pixels(page);
    ASSERT_TRUE(pixels);
    const auto near = [&](int x, int y, Rgb expected) {
      const std::uint8_t* p = pixels->At(x, y);
      return std::max({std::abs(p[0] - expected.r), std::abs(p[1] - expected.g),
                       std::abs(p[2] - expected.b)}) <= 2;
    };
    const Rgb green = Convert({0, 128, 0}, kSrgb, *c.space);
    const Rgb gray = Convert({128, 128, 128}, kSrgb, *c.space);
    EXPECT_TRUE(near(kPatch * 2, kPatch, gray)) << c.target;
    EXPECT_TRUE(near(4, kPatch, green)) << c.target;
  }
}

// A custom target that cannot be used fails the run, naming it, before any
// page; one that can is converted to and carried.
TEST_F(ColorPageTest, ACustomTargetIsUsedOrFailsTheRunNamingIt) {
  const std::string photo = Photo("photo.jpg", "");
  const std::string adobe = dir.File("printer adobe.icc");
  ASSERT_TRUE(testsupport::WriteBytes(adobe, ProfileOf(kAdobe, "Printer (test)")));
  std::string page;
  ASSERT_EQ(Compose(photo, "colorTarget=custom:" + adobe + "\n", &page), 0);
  EXPECT_TRUE(FindEmbeddedProfile(page).bytes == testsupport::ReadBytes(adobe));
  std::vector<Rgb> expected;
  for (const Rgb& patch : PatchesOf(*LoadRgba(photo)))
    expected.push_back(Convert(patch, kSrgb, kAdobe));
  EXPECT_LE(Farthest(*Pixels(page), expected), 2);

  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  const std::string greyBytes =
      testsupport::ProfileBytes(cmsCreateGrayProfile(cmsD50_xyY(), linear));
  cmsFreeToneCurve(linear);
  const std::string greyPath = dir.File("grey.icc");
  const std::string textPath = dir.File("notes.txt");
  ASSERT_TRUE(testsupport::WriteBytes(greyPath, greyBytes));
  ASSERT_TRUE(testsupport::WriteBytes(textPath, std::string(300, 'x')));
  // A sound profile padded past what 255 APP2 chunks of a page can carry,
  // though within the profiles' own limit.
  std::string huge = ProfileOf(kAdobe, "Huge (test)");
  huge.resize(255 * 65519 + 1, '\0');
  huge.replace(0, 4, testsupport::BigEndian32(static_cast<std::uint32_t>(huge.size())));
  const std::string hugePath = dir.File("huge.icc");
  ASSERT_TRUE(testsupport::WriteBytes(hugePath, huge));
  const struct {
    std::string path;
    std::string why;
  } unusable[] = {
      {dir.File("missing.icc"), "the file cannot be read"},
      {textPath, "it is not an ICC profile"},
      {greyPath, "it holds GRAY colors, not RGB"},
      {hugePath, "it is larger than a JPEG file can carry (255 chunks of 65519 bytes)"},
  };
  for (const auto& c : unusable) {
    std::string log;
    EXPECT_EQ(Compose(photo, "colorTarget=custom:" + c.path + "\n", &page, &log), 1) << c.path;
    EXPECT_NE(log.find("Sheetsmith: Color profile " + c.path + " cannot be used: " + c.why + "\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(page.empty()) << c.path;  // no page begun
  }
}

// A hostile or damaged profile is one photo's "no profile": the page is the
// untagged photo's, with one line saying why.
TEST_F(ColorPageTest, HostileProfilesAreNoProfile) {
  std::string untagged;
  ASSERT_EQ(Compose(Photo("untagged.jpg", ""), "", &untagged), 0);
  const std::string good = ProfileOf(kDisplayP3, "P3");
  std::string absurdTags = good;
  absurdTags.replace(128, 4, "\x7F\xFF\xFF\xFF", 4);  // tag count
  std::string farTags = good;                         // every tag's offset far beyond the profile
  for (std::size_t entry = 132;
       entry + 12 <= 132 + std::size_t{12} * static_cast<unsigned char>(good[131]); entry += 12) {
    farTags.replace(entry + 4, 4, "\x7F\x00\x00\x00", 4);
  }
  std::string longer = good;
  longer.replace(0, 4, "\x00\x10\x00\x00", 4);  // claims a megabyte
  std::string cmykClaim = good;
  cmykClaim.replace(16, 4, "CMYK");
  std::string megabytes;  // 250 chunks of 64 KB of nothing
  for (int i = 1; i <= 250; ++i) {
    megabytes += testsupport::IccChunkSegment(std::string(65000, static_cast<char>(i)), i, 250);
  }
  const struct {
    const char* name;
    std::string segments;
  } hostile[] = {
      {"cut short", testsupport::IccChunkSegment(good.substr(0, 100), 1, 1)},
      {"claims more than it holds", testsupport::IccChunkSegment(longer, 1, 1)},
      {"absurd tag count", testsupport::IccChunkSegment(absurdTags, 1, 1)},
      {"tags far beyond its end", testsupport::IccChunkSegment(farTags, 1, 1)},
      {"says CMYK for RGB pixels", testsupport::IccChunkSegment(cmykClaim, 1, 1)},
      {"a chunk missing", testsupport::IccChunkSegment(good, 1, 2)},
      {"megabytes of chunks", megabytes},
  };
  for (const auto& c : hostile) {
    const std::string path = dir.File(std::string(c.name) + ".jpg");
    ASSERT_TRUE(testsupport::WriteBytes(
        path, testsupport::InsertAfterSoi(testsupport::EncodeJpeg(PatchPhoto(), 100), c.segments)));
    std::string page;
    std::string log;
    ASSERT_EQ(Compose(path, "", &page, &log), 0) << c.name;
    EXPECT_TRUE(page == untagged) << c.name << ": " << log;
    EXPECT_NE(log.find("Sheetsmith: The color profile of " + path + " cannot be used ("),
              std::string::npos)
        << c.name << ": " << log;
  }
}

// A grey photo through the grey profile it carries (here linear light): each
// grey level comes out as the sRGB value of that light.
TEST_F(ColorPageTest, AGreyPhotoGoesThroughItsGreyProfile) {
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  const cmsCIExyY white = {kWhite[0], kWhite[1], 1.0};
  const std::string profile = testsupport::ProfileBytes(cmsCreateGrayProfile(&white, linear));
  cmsFreeToneCurve(linear);
  RgbaImage photo = PatchPhoto();
  std::string jpeg =
      testsupport::EncodeJpegAs(photo, {testsupport::JpegKind::kGrey, 1, 1, 0, false});
  const std::string path = dir.File("grey.jpg");
  ASSERT_TRUE(testsupport::WriteBytes(
      path, testsupport::InsertAfterSoi(jpeg, testsupport::IccChunkSegment(profile, 1, 1))));
  const std::optional<RgbaImage> stored = LoadRgba(path);  // the grey levels as stored
  ASSERT_TRUE(stored);
  std::vector<Rgb> expected;
  for (const Rgb& level : PatchesOf(*stored)) {
    const auto out = static_cast<std::uint8_t>(std::lround(SrgbEncode(level.r / 255.0) * 255));
    expected.push_back({out, out, out});
  }
  std::string page;
  ASSERT_EQ(Compose(path, "", &page), 0);
  EXPECT_LE(Farthest(*Pixels(page), expected), 2);
  EXPECT_EQ(FindEmbeddedProfile(page).state, EmbeddedProfile::State::kFound);
}

#if defined(__linux__)
// A CMYK photo in Adobe's inverted form, carrying Ghostscript's free CMYK
// profile, against Little CMS's own jpgicc conversion of the same file.
TEST_F(ColorPageTest, ACmykPhotoIsConvertedAsJpgiccConvertsIt) {
  const std::string cmykProfile =
      testsupport::ReadBytes("/usr/share/color/icc/ghostscript/default_cmyk.icc");
  ASSERT_FALSE(cmykProfile.empty()) << "Ghostscript's default_cmyk.icc (libgs-common)";
  // Patches of inks, stored inverted (255 is no ink), quality 100.
  const unsigned char inks[8][4] = {{0, 255, 255, 255}, {255, 0, 255, 255},  {255, 255, 0, 255},
                                    {255, 255, 255, 0}, {128, 200, 60, 230}, {255, 255, 255, 255},
                                    {30, 30, 30, 100},  {200, 100, 255, 180}};
  RgbaImage stored = PatchPhoto();
  for (int y = 0; y < stored.height; ++y) {
    for (int x = 0; x < stored.width; ++x) {
      std::copy_n(inks[(y / kPatch) * 4 + x / kPatch], 4, stored.At(x, y));
    }
  }
  const std::string jpeg =
      testsupport::EncodeJpegAs(stored, {testsupport::JpegKind::kCmyk, 1, 1, 0, false, 100, true});
  std::string segments;
  for (const std::string& segment : IccSegments(cmykProfile)) segments += segment;
  const std::string path = dir.File("cmyk.jpg");
  ASSERT_TRUE(testsupport::WriteBytes(path, testsupport::InsertAfterSoi(jpeg, segments)));

  const std::string reference = dir.File("jpgicc.jpg");
  ASSERT_EQ(
      std::system(("jpgicc -q100 '" + path + "' '" + reference + "' > /dev/null 2>&1").c_str()), 0)
      << "jpgicc (liblcms2-utils)";
  const std::optional<RgbaImage> expectedPixels = LoadRgba(reference);
  ASSERT_TRUE(expectedPixels);
  const std::vector<Rgb> expected = PatchesOf(*expectedPixels);
  std::string page;
  ASSERT_EQ(Compose(path, "", &page), 0);
  EXPECT_LE(Farthest(*Pixels(page), expected), 2);
  // Without its profile the same inks are taken as they are, not so.
  std::string naive;
  ASSERT_EQ(Compose(path, "colorTarget=no_conversion\n", &naive), 0);
  EXPECT_GT(Farthest(*Pixels(naive), expected), 2);
}
#endif

}  // namespace
}  // namespace sheetsmith
