// Face detection through the Windows Runtime, at its binary interface: the
// detector, the file, the decoder and the transform are activated by class
// name, and every asynchronous operation is waited for on the worker, which
// is in the multi-threaded apartment.
#include <roapi.h>
#include <windows.h>
#include <winstring.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "command_line.h"
#include "face_results.h"
#include "face_worker.h"
#include "long_calls.h"
#include "reader_photos.h"
#include "winrt_abi.h"

namespace runner {
namespace {

using Microsoft::WRL::ComPtr;
using namespace winrt_abi;

// A failed Windows Runtime call, with its code.
struct WinRtError {
  HRESULT code;
};

void Check(HRESULT result) {
  if (FAILED(result)) throw WinRtError{result};
}

class HString {
 public:
  explicit HString(const std::wstring& text) {
    Check(WindowsCreateString(text.c_str(), static_cast<UINT32>(text.size()), &string_));
  }
  ~HString() { WindowsDeleteString(string_); }
  HString(const HString&) = delete;
  HString& operator=(const HString&) = delete;
  HSTRING get() const { return string_; }

 private:
  HSTRING string_ = nullptr;
};

template <typename T>
ComPtr<T> QueryAs(IUnknown* object, const GUID& iid) {
  ComPtr<T> result;
  Check(object->QueryInterface(iid, reinterpret_cast<void**>(result.GetAddressOf())));
  return result;
}

template <typename T>
ComPtr<T> Factory(const wchar_t* className, const GUID& iid) {
  ComPtr<T> factory;
  Check(RoGetActivationFactory(HString(className).get(), iid,
                               reinterpret_cast<void**>(factory.GetAddressOf())));
  return factory;
}

// Waits for the operation and takes its result (T's default interface).
template <typename T>
ComPtr<T> Await(IAsyncOperationAbi* operation) {
  if (!operation) throw WinRtError{E_POINTER};
  ComPtr<IAsyncOperationAbi> owned;
  owned.Attach(operation);
  ComPtr<IAsyncInfoAbi> info = QueryAs<IAsyncInfoAbi>(operation, kIID_IAsyncInfo);
  int status = kAsyncStatusStarted;
  while (true) {
    Check(info->get_Status(&status));
    if (status != kAsyncStatusStarted) break;
    Sleep(1);
  }
  if (status == kAsyncStatusError) {
    HRESULT code = E_FAIL;
    info->get_ErrorCode(&code);
    throw WinRtError{code};
  }
  if (status == kAsyncStatusCanceled) throw WinRtError{HRESULT_FROM_WIN32(ERROR_CANCELLED)};
  ComPtr<T> result;
  Check(owned->GetResults(result.GetAddressOf()));
  return result;
}

// The workers still running, for the end of the process. Made once and
// never destroyed: a worker may finish while the process ends.
std::string Pointer(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return text;
}

// The faces the detector finds in a bitmap, and how many.
std::pair<ComPtr<IVectorAbi>, std::uint32_t> Detect(IFaceDetector* detector,
                                                    ISoftwareBitmap* bitmap) {
  IAsyncOperationAbi* detecting = nullptr;
  Check(detector->DetectFacesAsync(bitmap, &detecting));
  ComPtr<IVectorAbi> faces = Await<IVectorAbi>(detecting);
  std::uint32_t count = 0;
  Check(faces->get_Size(&count));
  WriteDebuggerLine("FD: DetectFacesAsync done, count=" + std::to_string(count) + "\n");
  return {faces, count};
}

// The detector's boxes brought back to the photo's oriented pixels.
std::vector<FaceBox> Boxes(IVectorAbi* faces, std::uint32_t count, const BoxFactors& factors) {
  std::vector<FaceBox> boxes;
  for (std::uint32_t i = 0; i < count; ++i) {
    ComPtr<IDetectedFace> face;
    Check(faces->GetAt(i, face.GetAddressOf()));
    BitmapBounds box = {};
    Check(face->get_FaceBox(&box));
    boxes.push_back(
        {box.X * factors.x, box.Y * factors.y, box.Width * factors.x, box.Height * factors.y});
  }
  return boxes;
}

// One photo whose file is open: decoded (smaller when large), its faces
// found, and the boxes brought back to its oriented pixels.
EncodableValue AnalysePhoto(const std::string& path, IInspectable* file, IFaceDetector* detector) {
  ComPtr<IInspectable> stream = QueryAs<IInspectable>(file, kIID_IRandomAccessStream);
  ComPtr<IBitmapDecoderStatics> decoders =
      Factory<IBitmapDecoderStatics>(kBitmapDecoderClass, kIID_IBitmapDecoderStatics);
  IAsyncOperationAbi* creating = nullptr;
  Check(decoders->CreateAsync(stream.Get(), &creating));
  ComPtr<IInspectable> decoder = Await<IInspectable>(creating);
  WriteDebuggerLine("FD: BitmapDecoder created\n");

  ComPtr<IBitmapFrame> frame = QueryAs<IBitmapFrame>(decoder.Get(), kIID_IBitmapFrame);
  std::uint32_t storedWidth = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Check(frame->get_PixelWidth(&storedWidth));
  Check(frame->get_OrientedPixelWidth(&width));
  Check(frame->get_OrientedPixelHeight(&height));
  const PixelSize decode = FaceDecodeSize(width, height);
  const bool reduced = decode != PixelSize{width, height};
  ComPtr<IBitmapFrameWithSoftwareBitmap> frames =
      QueryAs<IBitmapFrameWithSoftwareBitmap>(decoder.Get(), kIID_IBitmapFrameWithSoftwareBitmap);

  // A grey bitmap of the oriented photo, scaled to `scaled` (stored space) or not at all.
  const auto greyBitmap = [&](const PixelSize* scaled) {
    ComPtr<IInspectable> made;
    Check(RoActivateInstance(HString(kBitmapTransformClass).get(), made.GetAddressOf()));
    ComPtr<IBitmapTransform> transform =
        QueryAs<IBitmapTransform>(made.Get(), kIID_IBitmapTransform);
    if (scaled) {
      Check(transform->put_ScaledWidth(scaled->width));
      Check(transform->put_ScaledHeight(scaled->height));
    }
    IAsyncOperationAbi* getting = nullptr;
    Check(frames->GetSoftwareBitmapTransformedAsync(kBitmapPixelFormatGray8, kBitmapAlphaModeIgnore,
                                                    transform.Get(), kExifOrientationRespect,
                                                    kColorManagementDoNotManage, &getting));
    ComPtr<ISoftwareBitmap> bitmap = Await<ISoftwareBitmap>(getting);
    std::int32_t bitmapWidth = 0;
    std::int32_t bitmapHeight = 0;
    int format = 0;
    Check(bitmap->get_PixelWidth(&bitmapWidth));
    Check(bitmap->get_PixelHeight(&bitmapHeight));
    Check(bitmap->get_BitmapPixelFormat(&format));
    WriteDebuggerLine("FD: SoftwareBitmap created, PixelWidth=" + std::to_string(bitmapWidth) +
                      " PixelHeight=" + std::to_string(bitmapHeight) +
                      " Format=" + std::to_string(format) + "\n");
    return bitmap;
  };
  const auto sizeOf = [](ISoftwareBitmap* bitmap) {
    std::int32_t w = 0;
    std::int32_t h = 0;
    bitmap->get_PixelWidth(&w);
    bitmap->get_PixelHeight(&h);
    return PixelSize{static_cast<std::uint32_t>(std::max(w, 0)),
                     static_cast<std::uint32_t>(std::max(h, 0))};
  };
  const auto detect = [detector](ISoftwareBitmap* bitmap) { return Detect(detector, bitmap); };

  const PixelSize transformSize = TransformScaledSize(decode, storedWidth, width);
  ComPtr<ISoftwareBitmap> bitmap = greyBitmap(reduced ? &transformSize : nullptr);
  const PixelSize decoded = sizeOf(bitmap.Get());
  auto [faces, count] = detect(bitmap.Get());
  BoxFactors factors = FaceBoxFactors(width, height, decoded.width, decoded.height);
  if (count == 0 && reduced) {
    // Small faces can vanish in a reduced photo: once more at full size.
    bitmap = greyBitmap(nullptr);
    const PixelSize full = sizeOf(bitmap.Get());
    std::tie(faces, count) = detect(bitmap.Get());
    factors = FaceBoxFactors(width, height, full.width, full.height);
  }
  const std::string debugLine = FaceDebugLine(width, height, decoded.width, decoded.height, count);
  WriteDebuggerLine(debugLine);

  return FaceEntry(path, Boxes(faces.Get(), count, factors), debugLine);
}

// Grey pixels handed to SoftwareBitmap.CreateCopyFromBuffer, which copies
// them: an IBuffer of our own, its bytes reached through IBufferByteAccess.
class GreyBuffer final : public IBufferAbi, public IBufferByteAccessAbi {
 public:
  explicit GreyBuffer(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, kIID_IInspectable) ||
        IsEqualGUID(iid, kIID_IBuffer)) {
      *out = static_cast<IBufferAbi*>(this);
    } else if (IsEqualGUID(iid, kIID_IBufferByteAccess)) {
      *out = static_cast<IBufferByteAccessAbi*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
    *count = 0;
    *iids = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
    *name = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
    *level = BaseTrust;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Capacity(std::uint32_t* capacity) override {
    *capacity = static_cast<std::uint32_t>(bytes_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Length(std::uint32_t* length) override {
    *length = static_cast<std::uint32_t>(bytes_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Length(std::uint32_t length) override {
    return length == bytes_.size() ? S_OK : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Buffer(BYTE** bytes) override {
    *bytes = bytes_.data();
    return S_OK;
  }

 private:
  ~GreyBuffer() = default;
  std::atomic<ULONG> references_{1};
  std::vector<BYTE> bytes_;
};

// A photo the runtime's decoder cannot read (a HEIC, AVIF or WebP photo
// without Windows's extensions for them) read by the shared reader instead,
// upright, at the size the decoder's road would take, and given to the
// detector as a Gray8 SoftwareBitmap made from its pixels.
EncodableValue AnalyseReaderPhoto(const std::string& path, IFaceDetector* detector) {
  ComPtr<ISoftwareBitmapStatics> bitmaps =
      Factory<ISoftwareBitmapStatics>(kSoftwareBitmapClass, kIID_ISoftwareBitmapStatics);
  PixelSize oriented;
  const auto greyBitmap = [&](bool full, PixelSize& made) {
    const SizeRule size = [&](UprightSize upright) -> std::optional<UprightSize> {
      oriented = {static_cast<std::uint32_t>(upright.width),
                  static_cast<std::uint32_t>(upright.height)};
      const PixelSize wanted = full ? oriented : FaceDecodeSize(oriented.width, oriented.height);
      return UprightSize{static_cast<int>(wanted.width), static_cast<int>(wanted.height)};
    };
    sheetsmith::ReadProblem problem;
    const std::optional<PhotoForDrawing> photo =
        ReadForDrawing(PathForOpening(path), size, nullptr, &problem);
    if (!photo) throw std::runtime_error(ReadProblemReason(problem));
    const sheetsmith::RgbaImage& image = photo->image;
    std::vector<BYTE> grey(static_cast<std::size_t>(image.width) * image.height);
    const std::uint8_t* pixel = image.data();
    for (BYTE& value : grey) {
      // BT.601 luma, as a decoder's Gray8 conversion gives it.
      value = static_cast<BYTE>((77 * pixel[0] + 150 * pixel[1] + 29 * pixel[2] + 128) >> 8);
      pixel += 4;
    }
    made = {static_cast<std::uint32_t>(image.width), static_cast<std::uint32_t>(image.height)};
    ComPtr<IBufferAbi> buffer;
    buffer.Attach(new GreyBuffer(std::move(grey)));
    ComPtr<ISoftwareBitmap> bitmap;
    Check(bitmaps->CreateCopyFromBuffer(buffer.Get(), kBitmapPixelFormatGray8, image.width,
                                        image.height, bitmap.GetAddressOf()));
    WriteDebuggerLine("FD: SoftwareBitmap made from the photo reader's pixels, PixelWidth=" +
                      std::to_string(image.width) + " PixelHeight=" +
                      std::to_string(image.height) + "\n");
    return bitmap;
  };
  PixelSize decoded;
  ComPtr<ISoftwareBitmap> bitmap = greyBitmap(false, decoded);
  auto [faces, count] = Detect(detector, bitmap.Get());
  BoxFactors factors = FaceBoxFactors(oriented.width, oriented.height, decoded.width,
                                      decoded.height);
  if (count == 0 && decoded != oriented) {
    // Small faces can vanish in a reduced photo: once more at full size.
    PixelSize full;
    bitmap = greyBitmap(true, full);
    std::tie(faces, count) = Detect(detector, bitmap.Get());
    factors = FaceBoxFactors(oriented.width, oriented.height, full.width, full.height);
  }
  const std::string debugLine =
      FaceDebugLine(oriented.width, oriented.height, decoded.width, decoded.height, count);
  WriteDebuggerLine(debugLine);
  return FaceEntry(path, Boxes(faces.Get(), count, factors), debugLine);
}

// The entry of one path; a file that cannot be opened or a photo that cannot
// be analysed gets an entry of its own, the others go on.
EncodableValue DetectInPath(const std::string& path, IFaceDetector* detector) {
  if (!detector) return FaceEntry(path, {}, "FD: detector_create_failed");
  const std::optional<std::wstring> opening = PlatformText(PathForOpening(path));
  if (!opening) {
    WriteDebuggerLine("FD: failed to open file for read (the path holds a NUL)\n");
    return FaceEntry(path, {}, "FD: file_open_failed");
  }
  const std::wstring& wide = *opening;
  OutputDebugStringW((L"FD: Opening path: " + wide + L"\n").c_str());
  ComPtr<IInspectable> opened;
  try {
    ComPtr<IStorageFileStatics> files =
        Factory<IStorageFileStatics>(kStorageFileClass, kIID_IStorageFileStatics);
    IAsyncOperationAbi* getting = nullptr;
    Check(files->GetFileFromPathAsync(HString(wide).get(), &getting));
    ComPtr<IInspectable> file = Await<IInspectable>(getting);
    ComPtr<IRandomAccessStreamReference> reference =
        QueryAs<IRandomAccessStreamReference>(file.Get(), kIID_IRandomAccessStreamReference);
    IAsyncOperationAbi* opening = nullptr;
    Check(reference->OpenReadAsync(&opening));
    opened = Await<IInspectable>(opening);
    WriteDebuggerLine("FD: File opened successfully\n");
  } catch (const WinRtError& error) {
    WriteDebuggerLine("FD: failed to open file: HRESULT=0x" + HresultHex(error.code) + "\n");
    return FaceEntry(path, {}, "FD: file_open_failed");
  } catch (...) {
    WriteDebuggerLine("FD: failed to open file for read (unknown error)\n");
    return FaceEntry(path, {}, "FD: file_open_failed");
  }
  try {
    return AnalysePhoto(path, opened.Get(), detector);
  } catch (const WinRtError& error) {
    WriteDebuggerLine("FD: photo not analysed: HRESULT=0x" + HresultHex(error.code) + "\n");
  } catch (const std::exception& error) {
    WriteDebuggerLine(std::string("FD: photo not analysed: ") + error.what() + "\n");
  }
  // The shared reader reads what the runtime's decoder cannot.
  if (ReaderTakes(PathForOpening(path))) {
    try {
      WriteDebuggerLine("FD: reading the photo with the photo reader\n");
      return AnalyseReaderPhoto(path, detector);
    } catch (const WinRtError& error) {
      WriteDebuggerLine("FD: photo reader's pixels not analysed: HRESULT=0x" +
                        HresultHex(error.code) + "\n");
    } catch (const std::exception& error) {
      WriteDebuggerLine(std::string("FD: photo reader's pixels not analysed: ") + error.what() +
                        "\n");
    }
  }
  return FaceEntry(path, {}, "FD: decode_failed");
}

ComPtr<IFaceDetector> CreateDetector() {
  try {
    boolean supported = false;
    Check(Factory<IFaceDetectorStatics>(kFaceDetectorClass, kIID_IFaceDetectorStatics)
              ->get_IsSupported(&supported));
    WriteDebuggerLine(supported ? "FD: FaceDetector IS supported\n"
                                : "FD: FaceDetector NOT supported\n");
  } catch (...) {
    WriteDebuggerLine("FD: IsSupported check threw\n");
  }
  try {
    IAsyncOperationAbi* creating = nullptr;
    Check(Factory<IFaceDetectorStatics>(kFaceDetectorClass, kIID_IFaceDetectorStatics)
              ->CreateAsync(&creating));
    ComPtr<IFaceDetector> detector = Await<IFaceDetector>(creating);
    WriteDebuggerLine("FD: detector CreateAsync succeeded\n");
    return detector;
  } catch (const WinRtError& error) {
    WriteDebuggerLine("FD: detector CreateAsync failed: HRESULT=0x" + HresultHex(error.code) +
                      "\n");
  } catch (...) {
    WriteDebuggerLine("FD: detector CreateAsync failed (unknown)\n");
  }
  return nullptr;
}

// Hands the answer to the window; when the window cannot take it (it is
// gone), answers it here and frees it.
void PostAnswer(HWND window, std::unique_ptr<MethodResult> result, EncodableValue value) {
  const std::intptr_t address = HandOutFaceResults(
      std::make_unique<FaceResultsRecord>(FaceResultsRecord{std::move(result), std::move(value)}));
  if (PostMessageW(window, kFaceResultsMessage, 0, static_cast<LPARAM>(address))) {
    WriteDebuggerLine("FD: PostMessage succeeded\n");
    return;
  }
  WriteDebuggerLine("FD: PostMessage FAILED\n");
  if (std::unique_ptr<FaceResultsRecord> record = TakeBackFaceResults(address)) {
    try {
      if (record->result) record->result->Success(record->value);
    } catch (...) {
      // Nobody is left to answer; the record goes all the same.
    }
  }
}

void RunWorker(std::unique_ptr<FaceDetectionJob> job) {
  const HWND window = static_cast<HWND>(job->window);
  WriteDebuggerLine("FD: Worker thread started, hwnd=" + Pointer(window) +
                    " valid=" + (IsWindow(window) ? "yes" : "no") +
                    " paths=" + std::to_string(job->paths.size()) + "\n");
  WriteDebuggerLine(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))
                        ? "FD: winrt::init_apartment succeeded\n"
                        : "FD: winrt::init_apartment already initialized\n");
  ComPtr<IFaceDetector> detector = CreateDetector();
  EncodableList entries;
  bool whole = true;
  try {
    for (const std::string& path : job->paths)
      entries.push_back(DetectInPath(path, detector.Get()));
    WriteDebuggerLine("FD: Sending result with " + std::to_string(entries.size()) +
                      " entries to UI thread\n");
  } catch (const WinRtError& error) {
    WriteDebuggerLine("FD: WinRT exception in worker: HRESULT=0x" + HresultHex(error.code) + "\n");
    whole = false;
  } catch (const std::exception& error) {
    WriteDebuggerLine(std::string("FD: std::exception in worker: ") + error.what() + "\n");
    whole = false;
  } catch (...) {
    WriteDebuggerLine("FD: Unknown exception in worker thread\n");
    whole = false;
  }
  detector.Reset();
  try {
    PostAnswer(window, std::move(job->result),
               whole ? EncodableValue(std::move(entries)) : EncodableValue(EncodableList{}));
  } catch (...) {
    // Out of memory for the record: the result goes unanswered with the job.
  }
}

}  // namespace

void WriteDebuggerLine(const std::string& line) { OutputDebugStringA(line.c_str()); }

bool StartFaceWorker(std::unique_ptr<FaceDetectionJob>& job) {
  WorkerStarted();
  // The thread adopts the job only once it runs: when it cannot be started,
  // the job stays the caller's, result and all.
  FaceDetectionJob* handed = job.get();
  try {
    std::thread([handed] {
      RunWorker(std::unique_ptr<FaceDetectionJob>(handed));
      WorkerEnded();
    }).detach();
    job.release();
    return true;
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  WorkerEnded();
  return false;
}

}  // namespace runner
