// Display profiles made from H.273 colour code points, with the rule that
// puts high dynamic range light onto a page.
#include "imaging/color/nclx_profile.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "imaging/color/lcms_profile.h"

namespace sheetsmith {
namespace {

struct Primaries {
  cmsCIExyYTRIPLE rgb;
  cmsCIExyY white;
  const char* name;
};

constexpr cmsCIExyY kD65 = {0.3127, 0.3290, 1.0};
constexpr cmsCIExyY kIlluminantC = {0.310, 0.316, 1.0};

// H.273 table 2.
std::optional<Primaries> PrimariesOf(int code) {
  switch (code) {
    case 1:
    case 2:
      return Primaries{{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}}, kD65, "BT.709"};
    case 4:
      return Primaries{
          {{0.67, 0.33, 1}, {0.21, 0.71, 1}, {0.14, 0.08, 1}}, kIlluminantC, "BT.470 M"};
    case 5:
      return Primaries{{{0.64, 0.33, 1}, {0.29, 0.60, 1}, {0.15, 0.06, 1}}, kD65, "BT.601 625"};
    case 6:
    case 7:
      return Primaries{
          {{0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}}, kD65, "BT.601 525"};
    case 8:
      return Primaries{
          {{0.681, 0.319, 1}, {0.243, 0.692, 1}, {0.145, 0.049, 1}}, kIlluminantC, "film"};
    case 9:
      return Primaries{{{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}}, kD65, "BT.2020"};
    case 11:
      return Primaries{
          {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}}, {0.314, 0.351, 1}, "DCI-P3"};
    case 12:
      return Primaries{
          {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}}, kD65, "Display P3"};
    case 22:
      return Primaries{{{0.630, 0.340, 1}, {0.295, 0.605, 1}, {0.155, 0.077, 1}}, kD65, "EBU 3213"};
    default:
      return std::nullopt;
  }
}

double PqToNits(double signal) {
  constexpr double m1 = 2610.0 / 16384;
  constexpr double m2 = 2523.0 / 4096 * 128;
  constexpr double c1 = 3424.0 / 4096;
  constexpr double c2 = 2413.0 / 4096 * 32;
  constexpr double c3 = 2392.0 / 4096 * 32;
  const double p = std::pow(std::clamp(signal, 0.0, 1.0), 1 / m2);
  return 10000 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
}

double HlgToNits(double signal) {
  constexpr double a = 0.17883277;
  constexpr double b = 1 - 4 * a;
  const double c = 0.5 - a * std::log(4 * a);
  const double v = std::clamp(signal, 0.0, 1.0);
  const double scene = v <= 0.5 ? v * v / 3 : (std::exp((v - c) / a) + b) / 12;
  return 1000 * std::pow(scene, 1.2);
}

// The curve of a transfer the programs know, from signal to light; null for
// the others. `name` is set for the profile's description.
cmsToneCurve* CurveOf(int code, const char*& name) {
  // Parametric type 4: y = (a x + b)^g from d on, c x below it.
  const auto piecewise = [](double g, double a, double b, double c, double d) {
    const double params[5] = {g, a, b, c, d};
    return cmsBuildParametricToneCurve(nullptr, 4, params);
  };
  switch (code) {
    case 1:
    case 6:
    case 14:
    case 15:
      // The inverse of BT.709's camera curve.
      name = "BT.709";
      return piecewise(1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081);
    case 7:
      name = "SMPTE 240M";
      return piecewise(1 / 0.45, 1 / 1.1115, 0.1115 / 1.1115, 1 / 4.0, 0.0913);
    case 4:
      name = "gamma 2.2";
      return cmsBuildGamma(nullptr, 2.2);
    case 5:
      name = "gamma 2.8";
      return cmsBuildGamma(nullptr, 2.8);
    case 8:
      name = "linear";
      return cmsBuildGamma(nullptr, 1.0);
    case 2:
    case 13:
      name = "sRGB";
      return piecewise(2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045);
    case kTransferPq:
    case kTransferHlg: {
      name = code == kTransferPq ? "PQ" : "HLG";
      constexpr int kSamples = 4096;
      std::vector<float> table(kSamples);
      for (int i = 0; i < kSamples; ++i) {
        table[i] = static_cast<float>(HdrPageLight(code, static_cast<double>(i) / (kSamples - 1)));
      }
      return cmsBuildTabulatedToneCurveFloat(nullptr, kSamples, table.data());
    }
    default:
      return nullptr;
  }
}

EmbeddedProfile Make(const Nclx& nclx) {
  EmbeddedProfile made;
  const std::optional<Primaries> primaries = PrimariesOf(nclx.primaries);
  const char* transferName = nullptr;
  cmsToneCurve* curve = primaries ? CurveOf(nclx.transfer, transferName) : nullptr;
  if (!primaries || !curve) {
    made.state = EmbeddedProfile::State::kDamaged;
    made.problem = !primaries ? "its nclx color primaries " + std::to_string(nclx.primaries) +
                                    " are not known here"
                              : "its nclx transfer characteristics " +
                                    std::to_string(nclx.transfer) + " are not known here";
    return made;
  }
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&primaries->white, &primaries->rgb, curves);
  cmsFreeToneCurve(curve);
  const std::string description = std::string(primaries->name) + ", " + transferName + " (nclx " +
                                  std::to_string(nclx.primaries) + "/" +
                                  std::to_string(nclx.transfer) + ", Korvela)";
  made.bytes = profile ? SaveProfile(profile, description.c_str()) : std::string();
  made.state =
      made.bytes.empty() ? EmbeddedProfile::State::kDamaged : EmbeddedProfile::State::kFound;
  if (made.bytes.empty()) made.problem = "its nclx colors could not be made into a profile";
  return made;
}

}  // namespace

double HdrPageLight(int transfer, double signal) {
  const double nits = transfer == kTransferPq ? PqToNits(signal) : HlgToNits(signal);
  const double x = nits / kHdrGraphicsWhiteNits;
  constexpr double s = kHdrRollOffStart;
  if (x <= s) return x;
  return s + (1 - s) * (1 - std::exp(-(x - s) / (1 - s)));
}

EmbeddedProfile NclxProfile(const Nclx& nclx) {
  const bool srgbPrimaries = nclx.primaries == 1 || nclx.primaries == 2;
  if (srgbPrimaries && (nclx.transfer == 13 || nclx.transfer == 2)) return {};
  // Made once for each pair, as every photo of a phone's run has the same.
  static std::mutex mutex;
  static std::map<std::pair<int, int>, EmbeddedProfile> made;
  const std::lock_guard<std::mutex> lock(mutex);
  const auto key = std::make_pair(nclx.primaries, nclx.transfer);
  if (const auto found = made.find(key); found != made.end()) return found->second;
  EmbeddedProfile profile = Make(nclx);
  // Only profiles are kept: unknown code points are a bounded few words each
  // time, and a file of made-up ones must not grow the map.
  if (profile.state == EmbeddedProfile::State::kFound) made.emplace(key, profile);
  return profile;
}

}  // namespace sheetsmith
