// A stand-in for the five Windows Runtime classes that face detection
// activates, for tests under Wine, which has none of them. Registered in the
// test prefix only (HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId
// \<class>\DllPath); never shipped.
//
// It behaves as the documented classes do on the points the host relies on:
//   StorageFile.GetFileFromPathAsync fails (asynchronously) for a missing
//     file; OpenReadAsync gives a stream.
//   BitmapDecoder.CreateAsync fails for a file WIC cannot decode; the
//     decoder reports the stored size and the size after the EXIF
//     orientation.
//   GetSoftwareBitmapAsync with a BitmapTransform decodes with WIC at the
//     transform's scaled size, which is in the stored pixels' space, then
//     applies the orientation: the bitmap's size is the scaled size, turned.
//   SoftwareBitmap.CreateCopyFromBuffer copies a buffer's rows (reached
//     through IBufferByteAccess) into a bitmap of the format given, and
//     fails for a buffer shorter than the bitmap.
//   FaceDetector takes Gray8 bitmaps only, as the real one takes Gray8 and
//     Nv12. In a bitmap made from a buffer it finds one face: the box around
//     its dark pixels (below 32), when that is a face's size at all. In a
//     decoded photo it finds the faces described beside the photo: PHOTO.faces,
//     one "left top width height" a line in the photo's oriented pixels,
//     given back in the bitmap's pixels (rounded); like the real detector it
//     misses faces narrower than 24 bitmap pixels. A line "takes MS" makes
//     the detection of that photo take MS milliseconds, as the real one does
//     on a large photo or a slow machine.
// Every asynchronous operation is complete when it is handed out.
#include <activation.h>
#include <roapi.h>
#include <wincodec.h>
#include <windows.h>
#include <winstring.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/reading/exif.h"
#include "winrt_abi.h"

using namespace runner::winrt_abi;

namespace {

constexpr std::uint32_t kSmallestFace = 24;
constexpr HRESULT kComponentNotFound = static_cast<HRESULT>(0x88982F50);
constexpr HRESULT kOutOfBounds = static_cast<HRESULT>(0x8000000B);  // E_BOUNDS

// What the stand-in's own objects tell each other.
// {6E3C9B1A-3D1F-4C55-9E1B-7A4B2C8D9E01}
constexpr GUID kIID_StandInSource = {
    0x6E3C9B1A, 0x3D1F, 0x4C55, {0x9E, 0x1B, 0x7A, 0x4B, 0x2C, 0x8D, 0x9E, 0x01}};
struct IStandInSource : IInspectable {
  virtual const std::wstring& Path() = 0;
};
// {6E3C9B1A-3D1F-4C55-9E1B-7A4B2C8D9E02}
constexpr GUID kIID_StandInBitmap = {
    0x6E3C9B1A, 0x3D1F, 0x4C55, {0x9E, 0x1B, 0x7A, 0x4B, 0x2C, 0x8D, 0x9E, 0x02}};
struct BitmapFacts {
  std::wstring path;  // empty for a bitmap made from a buffer
  int format = kBitmapPixelFormatGray8;
  std::vector<std::uint8_t> pixels;  // a bitmap made from a buffer: its rows
  std::uint32_t orientedWidth = 0;  // the photo at full size
  std::uint32_t orientedHeight = 0;
  std::uint32_t width = 0;  // this bitmap
  std::uint32_t height = 0;
};
struct IStandInBitmap : IInspectable {
  virtual const BitmapFacts& Facts() = 0;
};

// Reference counting and IInspectable for every object here.
#define STANDIN_INSPECTABLE                                               \
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }     \
  ULONG STDMETHODCALLTYPE Release() override {                            \
    const ULONG left = --references_;                                     \
    if (left == 0) delete this;                                           \
    return left;                                                          \
  }                                                                       \
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {  \
    *count = 0;                                                           \
    *iids = nullptr;                                                      \
    return S_OK;                                                          \
  }                                                                       \
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override { \
    *name = nullptr;                                                      \
    return S_OK;                                                          \
  }                                                                       \
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {   \
    *level = BaseTrust;                                                   \
    return S_OK;                                                          \
  }                                                                       \
                                                                          \
 private:                                                                 \
  std::atomic<ULONG> references_{1};                                      \
                                                                          \
 public:

bool Is(REFIID iid, const GUID& other) { return IsEqualGUID(iid, other) != 0; }

template <typename T>
HRESULT Give(T* object, void** out) {
  object->AddRef();
  *out = object;
  return S_OK;
}

// A finished operation: a result (an interface pointer of the right kind),
// or an error.
class Operation final : public IAsyncOperationAbi, public IAsyncInfoAbi {
 public:
  explicit Operation(IUnknown* result) : result_(result) {}  // takes the reference
  explicit Operation(HRESULT error) : error_(error) {}
  ~Operation() {
    if (result_) result_->Release();
  }
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable)) {
      return Give(static_cast<IAsyncOperationAbi*>(this), out);
    }
    if (Is(iid, kIID_IAsyncInfo)) return Give(static_cast<IAsyncInfoAbi*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE put_Completed(IUnknown*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_Completed(IUnknown** handler) override {
    *handler = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResults(void* results) override {
    if (FAILED(error_)) return error_;
    result_->AddRef();
    *static_cast<IUnknown**>(results) = result_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Id(std::uint32_t* id) override {
    *id = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Status(int* status) override {
    *status = FAILED(error_) ? kAsyncStatusError : kAsyncStatusCompleted;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override {
    *code = error_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

 private:
  IUnknown* result_ = nullptr;
  HRESULT error_ = S_OK;
};

HRESULT Finish(IUnknown* result, IAsyncOperationAbi** operation) {
  *operation = new Operation(result);
  return S_OK;
}
HRESULT Fail(HRESULT error, IAsyncOperationAbi** operation) {
  *operation = new Operation(error);
  return S_OK;
}

class DetectedFace final : public IDetectedFace {
 public:
  explicit DetectedFace(BitmapBounds box) : box_(box) {}
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IDetectedFace)) {
      return Give(this, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE get_FaceBox(BitmapBounds* box) override {
    *box = box_;
    return S_OK;
  }

 private:
  BitmapBounds box_;
};

class FaceList final : public IVectorAbi {
 public:
  explicit FaceList(std::vector<BitmapBounds> boxes) : boxes_(std::move(boxes)) {}
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable)) return Give(this, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetAt(std::uint32_t index, void* item) override {
    if (index >= boxes_.size()) return kOutOfBounds;
    *static_cast<IDetectedFace**>(item) = new DetectedFace(boxes_[index]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* size) override {
    *size = static_cast<std::uint32_t>(boxes_.size());
    return S_OK;
  }

 private:
  std::vector<BitmapBounds> boxes_;
};

// The faces described beside the photo, in the bitmap's pixels.
std::vector<BitmapBounds> DescribedFaces(const BitmapFacts& facts) {
  std::vector<BitmapBounds> boxes;
  std::ifstream description(std::filesystem::path(facts.path + L".faces"));
  if (!description || facts.orientedWidth == 0 || facts.orientedHeight == 0) return boxes;
  const double fx = static_cast<double>(facts.width) / facts.orientedWidth;
  const double fy = static_cast<double>(facts.height) / facts.orientedHeight;
  std::string line;
  while (std::getline(description, line)) {
    std::istringstream fields(line);
    if (line.rfind("takes ", 0) == 0) {
      Sleep(static_cast<DWORD>(std::stoul(line.substr(6))));
      continue;
    }
    double left = 0, top = 0, width = 0, height = 0;
    if (!(fields >> left >> top >> width >> height)) continue;
    const BitmapBounds box = {static_cast<std::uint32_t>(std::lround(left * fx)),
                              static_cast<std::uint32_t>(std::lround(top * fy)),
                              static_cast<std::uint32_t>(std::lround(width * fx)),
                              static_cast<std::uint32_t>(std::lround(height * fy))};
    if (box.Width >= kSmallestFace) boxes.push_back(box);
  }
  return boxes;
}

// The face in a bitmap made from a buffer: the box around its dark pixels.
std::vector<BitmapBounds> DarkFace(const BitmapFacts& facts) {
  std::uint32_t left = facts.width;
  std::uint32_t top = facts.height;
  std::uint32_t right = 0;
  std::uint32_t bottom = 0;
  for (std::uint32_t y = 0; y < facts.height; ++y) {
    for (std::uint32_t x = 0; x < facts.width; ++x) {
      if (facts.pixels[static_cast<std::size_t>(y) * facts.width + x] >= 32) continue;
      left = std::min(left, x);
      top = std::min(top, y);
      right = std::max(right, x + 1);
      bottom = std::max(bottom, y + 1);
    }
  }
  if (right <= left || right - left < kSmallestFace) return {};
  return {BitmapBounds{left, top, right - left, bottom - top}};
}

class FaceDetector final : public IFaceDetector {
 public:
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IFaceDetector)) {
      return Give(this, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE DetectFacesAsync(IInspectable* bitmap,
                                             IAsyncOperationAbi** operation) override {
    IStandInBitmap* ours = nullptr;
    if (!bitmap ||
        FAILED(bitmap->QueryInterface(kIID_StandInBitmap, reinterpret_cast<void**>(&ours)))) {
      return E_INVALIDARG;
    }
    const BitmapFacts& facts = ours->Facts();
    if (facts.format != kBitmapPixelFormatGray8) {
      ours->Release();
      return E_INVALIDARG;
    }
    std::vector<BitmapBounds> boxes = facts.path.empty() ? DarkFace(facts) : DescribedFaces(facts);
    ours->Release();
    return Finish(static_cast<IVectorAbi*>(new FaceList(std::move(boxes))), operation);
  }
  HRESULT STDMETHODCALLTYPE DetectFacesWithSearchAreaAsync(IInspectable*, BitmapBounds,
                                                           IAsyncOperationAbi**) override {
    return E_NOTIMPL;
  }
};

class FaceDetectorFactory final : public IActivationFactory, public IFaceDetectorStatics {
 public:
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IActivationFactory)) {
      return Give(static_cast<IActivationFactory*>(this), out);
    }
    if (Is(iid, kIID_IFaceDetectorStatics))
      return Give(static_cast<IFaceDetectorStatics*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateAsync(IAsyncOperationAbi** operation) override {
    return Finish(static_cast<IFaceDetector*>(new FaceDetector), operation);
  }
  HRESULT STDMETHODCALLTYPE GetSupportedBitmapPixelFormats(IInspectable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsBitmapPixelFormatSupported(int format, boolean* supported) override {
    *supported = format == kBitmapPixelFormatGray8;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsSupported(boolean* supported) override {
    *supported = TRUE;
    return S_OK;
  }
};

// An opened file: a stream that only this stand-in's decoder reads.
class Stream final : public IStandInSource {
 public:
  explicit Stream(std::wstring path) : path_(std::move(path)) {}
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IRandomAccessStream) ||
        Is(iid, kIID_StandInSource)) {
      return Give(this, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  const std::wstring& Path() override { return path_; }

 private:
  std::wstring path_;
};

class StorageFile final : public IRandomAccessStreamReference {
 public:
  explicit StorageFile(std::wstring path) : path_(std::move(path)) {}
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) ||
        Is(iid, kIID_IRandomAccessStreamReference)) {
      return Give(this, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE OpenReadAsync(IAsyncOperationAbi** operation) override {
    const HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(HRESULT_FROM_WIN32(GetLastError()), operation);
    CloseHandle(file);
    return Finish(static_cast<IStandInSource*>(new Stream(path_)), operation);
  }

 private:
  std::wstring path_;
};

class StorageFileFactory final : public IActivationFactory, public IStorageFileStatics {
 public:
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IActivationFactory)) {
      return Give(static_cast<IActivationFactory*>(this), out);
    }
    if (Is(iid, kIID_IStorageFileStatics))
      return Give(static_cast<IStorageFileStatics*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFileFromPathAsync(HSTRING path,
                                                 IAsyncOperationAbi** operation) override {
    const std::wstring text = WindowsGetStringRawBuffer(path, nullptr);
    const DWORD attributes = GetFileAttributesW(text.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return Fail(HRESULT_FROM_WIN32(GetLastError()), operation);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(E_INVALIDARG, operation);
    return Finish(static_cast<IRandomAccessStreamReference*>(new StorageFile(text)), operation);
  }
};

class Transform final : public IBitmapTransform {
 public:
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IBitmapTransform)) {
      return Give(this, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE get_ScaledWidth(std::uint32_t* width) override {
    *width = width_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ScaledWidth(std::uint32_t width) override {
    width_ = width;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ScaledHeight(std::uint32_t* height) override {
    *height = height_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ScaledHeight(std::uint32_t height) override {
    height_ = height;
    return S_OK;
  }

 private:
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
};

class TransformFactory final : public IActivationFactory {
 public:
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IActivationFactory)) {
      return Give(this, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    *instance = new Transform;
    return S_OK;
  }
};

class SoftwareBitmap final : public ISoftwareBitmap, public IStandInBitmap {
 public:
  explicit SoftwareBitmap(BitmapFacts facts) : facts_(std::move(facts)) {}
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_ISoftwareBitmap)) {
      return Give(static_cast<ISoftwareBitmap*>(this), out);
    }
    if (Is(iid, kIID_StandInBitmap)) return Give(static_cast<IStandInBitmap*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE get_BitmapPixelFormat(int* format) override {
    *format = facts_.format;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BitmapAlphaMode(int* mode) override {
    *mode = kBitmapAlphaModeIgnore;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PixelWidth(std::int32_t* width) override {
    *width = static_cast<std::int32_t>(facts_.width);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PixelHeight(std::int32_t* height) override {
    *height = static_cast<std::int32_t>(facts_.height);
    return S_OK;
  }
  const BitmapFacts& Facts() override { return facts_; }

 private:
  BitmapFacts facts_;
};

// BitmapPixelFormat values and their bytes a pixel: Gray8, Bgra8, Rgba8.
std::uint32_t BytesPerPixel(int format) {
  switch (format) {
    case kBitmapPixelFormatGray8:
      return 1;
    case 87:  // Bgra8
    case 30:  // Rgba8
      return 4;
    default:
      return 0;
  }
}

class SoftwareBitmapFactory final : public IActivationFactory, public ISoftwareBitmapStatics {
 public:
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IActivationFactory)) {
      return Give(static_cast<IActivationFactory*>(this), out);
    }
    if (Is(iid, kIID_ISoftwareBitmapStatics)) {
      return Give(static_cast<ISoftwareBitmapStatics*>(this), out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Copy(IInspectable*, ISoftwareBitmap**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Convert(IInspectable*, int, ISoftwareBitmap**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ConvertWithAlpha(IInspectable*, int, int, ISoftwareBitmap**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateCopyFromBuffer(IInspectable* source, int format,
                                                 std::int32_t width, std::int32_t height,
                                                 ISoftwareBitmap** bitmap) override {
    if (!source || !bitmap || width <= 0 || height <= 0) return E_INVALIDARG;
    *bitmap = nullptr;
    const std::uint32_t bytesPerPixel = BytesPerPixel(format);
    if (bytesPerPixel == 0) return E_INVALIDARG;
    IBufferAbi* buffer = nullptr;
    IBufferByteAccessAbi* access = nullptr;
    HRESULT result = source->QueryInterface(kIID_IBuffer, reinterpret_cast<void**>(&buffer));
    if (SUCCEEDED(result)) {
      result = source->QueryInterface(kIID_IBufferByteAccess, reinterpret_cast<void**>(&access));
    }
    std::uint32_t length = 0;
    BYTE* bytes = nullptr;
    if (SUCCEEDED(result)) result = buffer->get_Length(&length);
    if (SUCCEEDED(result)) result = access->Buffer(&bytes);
    const std::uint64_t needed =
        std::uint64_t{static_cast<std::uint32_t>(width)} * static_cast<std::uint32_t>(height) *
        bytesPerPixel;
    if (SUCCEEDED(result) && (length < needed || !bytes)) result = E_INVALIDARG;
    if (SUCCEEDED(result)) {
      BitmapFacts facts;
      facts.format = format;
      facts.width = facts.orientedWidth = static_cast<std::uint32_t>(width);
      facts.height = facts.orientedHeight = static_cast<std::uint32_t>(height);
      // Bgra8 and Rgba8 bitmaps are kept by their first channel: the
      // detector refuses them anyway.
      facts.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
      for (std::size_t i = 0; i < facts.pixels.size(); ++i) facts.pixels[i] = bytes[i * bytesPerPixel];
      *bitmap = new SoftwareBitmap(std::move(facts));
    }
    if (access) access->Release();
    if (buffer) buffer->Release();
    return result;
  }
};

// The first frame of a file, decoded by WIC, with the factory that made it.
struct WicFrame {
  Microsoft::WRL::ComPtr<IWICImagingFactory> factory;
  Microsoft::WRL::ComPtr<IWICBitmapDecoder> decoder;
  Microsoft::WRL::ComPtr<IWICBitmapFrameDecode> frame;
};

HRESULT OpenFirstFrame(const std::wstring& path, WicFrame& opened) {
  HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&opened.factory));
  if (SUCCEEDED(result)) {
    result = opened.factory->CreateDecoderFromFilename(
        path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &opened.decoder);
  }
  if (SUCCEEDED(result)) result = opened.decoder->GetFrame(0, &opened.frame);
  return result;
}

std::string Utf8(const std::wstring& wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1)
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), size, nullptr, nullptr);
  return text;
}

class Decoder final : public IBitmapFrame, public IBitmapFrameWithSoftwareBitmap {
 public:
  Decoder(std::wstring path, std::uint32_t width, std::uint32_t height, int orientation)
      : path_(std::move(path)), width_(width), height_(height), orientation_(orientation) {}
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IBitmapFrame)) {
      return Give(static_cast<IBitmapFrame*>(this), out);
    }
    if (Is(iid, kIID_IBitmapFrameWithSoftwareBitmap)) {
      return Give(static_cast<IBitmapFrameWithSoftwareBitmap*>(this), out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  bool Sideways() const { return orientation_ >= 5 && orientation_ <= 8; }
  HRESULT STDMETHODCALLTYPE GetThumbnailAsync(IAsyncOperationAbi**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BitmapProperties(IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BitmapPixelFormat(int* format) override {
    *format = 87;  // Bgra8
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BitmapAlphaMode(int* mode) override {
    *mode = kBitmapAlphaModeIgnore;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_DpiX(double* dpi) override {
    *dpi = 96;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_DpiY(double* dpi) override {
    *dpi = 96;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PixelWidth(std::uint32_t* width) override {
    *width = width_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PixelHeight(std::uint32_t* height) override {
    *height = height_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_OrientedPixelWidth(std::uint32_t* width) override {
    *width = Sideways() ? height_ : width_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_OrientedPixelHeight(std::uint32_t* height) override {
    *height = Sideways() ? width_ : height_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSoftwareBitmapAsync(IAsyncOperationAbi**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSoftwareBitmapConvertedAsync(int, int,
                                                            IAsyncOperationAbi**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  GetSoftwareBitmapTransformedAsync(int, int, IInspectable* transform, int exifOrientation, int,
                                    IAsyncOperationAbi** operation) override {
    // The scaled size is in the stored pixels' space.
    std::uint32_t width = width_;
    std::uint32_t height = height_;
    IBitmapTransform* sizes = nullptr;
    if (transform && SUCCEEDED(transform->QueryInterface(kIID_IBitmapTransform,
                                                         reinterpret_cast<void**>(&sizes)))) {
      std::uint32_t scaledWidth = 0;
      std::uint32_t scaledHeight = 0;
      sizes->get_ScaledWidth(&scaledWidth);
      sizes->get_ScaledHeight(&scaledHeight);
      sizes->Release();
      if (scaledWidth > 0) width = scaledWidth;
      if (scaledHeight > 0) height = scaledHeight;
    }
    const HRESULT decoded = DecodeAt(width, height);
    if (FAILED(decoded)) return Fail(decoded, operation);
    BitmapFacts facts;
    facts.path = path_;
    get_OrientedPixelWidth(&facts.orientedWidth);
    get_OrientedPixelHeight(&facts.orientedHeight);
    const bool turned = exifOrientation == kExifOrientationRespect && Sideways();
    facts.width = turned ? height : width;
    facts.height = turned ? width : height;
    return Finish(static_cast<ISoftwareBitmap*>(new SoftwareBitmap(std::move(facts))), operation);
  }

 private:
  // Decodes the photo at width x height with WIC, as the real decoder does.
  HRESULT DecodeAt(std::uint32_t width, std::uint32_t height) const {
    WicFrame opened;
    HRESULT result = OpenFirstFrame(path_, opened);
    Microsoft::WRL::ComPtr<IWICBitmapScaler> scaler;
    if (SUCCEEDED(result)) result = opened.factory->CreateBitmapScaler(&scaler);
    if (SUCCEEDED(result)) {
      result =
          scaler->Initialize(opened.frame.Get(), width, height, WICBitmapInterpolationModeFant);
    }
    if (SUCCEEDED(result)) {
      std::vector<BYTE> row(static_cast<std::size_t>(width) * 4);
      const WICRect first = {0, 0, static_cast<INT>(width), 1};
      result = scaler->CopyPixels(&first, width * 4, static_cast<UINT>(row.size()), row.data());
    }
    return result;
  }

  std::wstring path_;
  std::uint32_t width_;
  std::uint32_t height_;
  int orientation_;
};

class DecoderFactory final : public IActivationFactory, public IBitmapDecoderStatics {
 public:
  STANDIN_INSPECTABLE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Is(iid, IID_IUnknown) || Is(iid, kIID_IInspectable) || Is(iid, kIID_IActivationFactory)) {
      return Give(static_cast<IActivationFactory*>(this), out);
    }
    if (Is(iid, kIID_IBitmapDecoderStatics)) {
      return Give(static_cast<IBitmapDecoderStatics*>(this), out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BmpDecoderId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_JpegDecoderId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_PngDecoderId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_TiffDecoderId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_GifDecoderId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_JpegXRDecoderId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IcoDecoderId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDecoderInformationEnumerator(IInspectable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateAsync(IInspectable* stream,
                                        IAsyncOperationAbi** operation) override {
    IStandInSource* source = nullptr;
    if (!stream ||
        FAILED(stream->QueryInterface(kIID_StandInSource, reinterpret_cast<void**>(&source)))) {
      return E_INVALIDARG;
    }
    const std::wstring path = source->Path();
    source->Release();
    UINT width = 0;
    UINT height = 0;
    WicFrame opened;
    HRESULT result = OpenFirstFrame(path, opened);
    if (SUCCEEDED(result)) result = opened.frame->GetSize(&width, &height);
    if (FAILED(result)) return Fail(kComponentNotFound, operation);
    // Wine's WIC gives no JPEG metadata: the orientation is read from the file.
    const int orientation = sheetsmith::ReadExifOrientation(Utf8(path));
    return Finish(static_cast<IBitmapFrame*>(new Decoder(path, width, height, orientation)),
                  operation);
  }
  HRESULT STDMETHODCALLTYPE CreateWithIdAsync(GUID, IInspectable*, IAsyncOperationAbi**) override {
    return E_NOTIMPL;
  }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    DllGetActivationFactory(HSTRING classId, IActivationFactory** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const std::wstring name = WindowsGetStringRawBuffer(classId, nullptr);
  if (name == kFaceDetectorClass) {
    *out = new FaceDetectorFactory;
  } else if (name == kStorageFileClass) {
    *out = new StorageFileFactory;
  } else if (name == kBitmapDecoderClass) {
    *out = new DecoderFactory;
  } else if (name == kBitmapTransformClass) {
    *out = new TransformFactory;
  } else if (name == kSoftwareBitmapClass) {
    *out = new SoftwareBitmapFactory;
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return S_OK;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
