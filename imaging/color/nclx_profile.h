// Colour described by code points instead of an ICC profile, as HEIF and
// AVIF files may (an "nclx" colour box, ITU-T H.273): the primaries and the
// transfer made into a display profile that Little CMS converts from like
// any embedded one. The matrix is the decoder's business: it has turned
// YCbCr into RGB before the profile applies.
#pragma once

#include <cstdint>

#include "imaging/color/embedded_profiles.h"

namespace sheetsmith {

// H.273 code points the programs read.
struct Nclx {
  int primaries = 2;  // 2: unspecified
  int transfer = 2;
};

// The transfers of high dynamic range video.
inline constexpr int kTransferPq = 16;   // SMPTE ST 2084
inline constexpr int kTransferHlg = 18;  // ARIB STD-B67, ITU-R BT.2100

// High dynamic range on a page. A PQ signal is decoded to the light it
// stands for (ST 2084, in cd/m²); an HLG signal to scene light (the inverse
// of its OETF), then to display light for a 1000 cd/m² display (its
// system gamma 1.2, applied to each channel). Graphics white, 203 cd/m²
// (ITU-R BT.2408), is the page's full light; below 0.9 of it the light is
// kept as it is, and above it, highlights up to any brightness are rolled
// off smoothly into the last tenth: y = 0.9 + 0.1 (1 - e^(-(x - 0.9) / 0.1)),
// the same slope where the roll-off begins. So HDR photos print with their
// midtones where an SDR rendering of them has them, and their highlights
// kept apart instead of clipped.
inline constexpr double kHdrGraphicsWhiteNits = 203.0;
inline constexpr double kHdrRollOffStart = 0.9;
double HdrPageLight(int transfer, double signal);

// The profile for these code points: nothing (kNone) for sRGB itself
// (primaries 1 with transfer 13, or either unspecified), so that it keeps
// the quick road; a made profile (kFound) for every other pair the programs
// know; kDamaged, with the reason, for a code point they do not know, so
// the photo is taken as sRGB and the log says why. The same bytes every
// time for the same pair.
EmbeddedProfile NclxProfile(const Nclx& nclx);

}  // namespace sheetsmith
