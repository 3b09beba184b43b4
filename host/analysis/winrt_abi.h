// The few Windows Runtime interfaces that face detection calls, declared at
// the binary interface (IInspectable-based COM vtables). The MinGW-w64
// headers lack them. Each interface identifier and each method's slot comes
// from Microsoft's published metadata for the type (Windows.winmd, as shown
// on learn.microsoft.com under the type's page and in the Windows SDK's
// generated headers): a method's slot is its place in the declaration, after
// IInspectable's six.
#pragma once

#include <inspectable.h>
#include <windows.h>

#include <cstdint>

namespace runner::winrt_abi {

// Windows.Graphics.Imaging.BitmapBounds and BitmapSize.
struct BitmapBounds {
  std::uint32_t X;
  std::uint32_t Y;
  std::uint32_t Width;
  std::uint32_t Height;
};

// Enumerations, by value.
inline constexpr int kBitmapPixelFormatGray8 = 62;     // BitmapPixelFormat.Gray8
inline constexpr int kBitmapAlphaModeIgnore = 2;       // BitmapAlphaMode.Ignore
inline constexpr int kExifOrientationRespect = 1;      // ExifOrientationMode.RespectExifOrientation
inline constexpr int kColorManagementDoNotManage = 0;  // ColorManagementMode.DoNotColorManage
inline constexpr int kAsyncStatusStarted = 0;          // Windows.Foundation.AsyncStatus
inline constexpr int kAsyncStatusCompleted = 1;
inline constexpr int kAsyncStatusCanceled = 2;
inline constexpr int kAsyncStatusError = 3;

// IInspectable {AF86E2E0-B12D-4C6A-9C5A-D7AA65101E90} and IActivationFactory
// {00000035-0000-0000-C000-000000000046}; MinGW declares them but its
// libraries do not define them.
inline constexpr GUID kIID_IInspectable = {
    0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
inline constexpr GUID kIID_IActivationFactory = {
    0x00000035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Windows.Foundation.IAsyncInfo {00000036-0000-0000-C000-000000000046}.
inline constexpr GUID kIID_IAsyncInfo = {
    0x00000036, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
struct IAsyncInfoAbi : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Id(std::uint32_t* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(int* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Windows.Foundation.IAsyncOperation<T>: its identifier depends on T, but
// its slots do not; it is only ever used through the pointer a method gives
// out. GetResults gives T's default interface (or T itself for values).
struct IAsyncOperationAbi : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE put_Completed(IUnknown* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(IUnknown** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(void* results) = 0;
};

// Windows.Foundation.Collections.IVector<T>, likewise through given pointers.
struct IVectorAbi : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetAt(std::uint32_t index, void* item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* size) = 0;
};

// Windows.Media.FaceAnalysis.IFaceDetectorStatics
// {BC042D67-9047-33F6-881B-6746C1B218B8}.
inline constexpr GUID kIID_IFaceDetectorStatics = {
    0xBC042D67, 0x9047, 0x33F6, {0x88, 0x1B, 0x67, 0x46, 0xC1, 0xB2, 0x18, 0xB8}};
struct IFaceDetectorStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateAsync(IAsyncOperationAbi** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSupportedBitmapPixelFormats(IInspectable** formats) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsBitmapPixelFormatSupported(int format,
                                                                 boolean* supported) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsSupported(boolean* supported) = 0;
};

// Windows.Media.FaceAnalysis.IFaceDetector
// {16B672DC-FE6F-3117-8D95-C3F04D51630C}.
inline constexpr GUID kIID_IFaceDetector = {
    0x16B672DC, 0xFE6F, 0x3117, {0x8D, 0x95, 0xC3, 0xF0, 0x4D, 0x51, 0x63, 0x0C}};
struct IFaceDetector : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE DetectFacesAsync(IInspectable* bitmap,
                                                     IAsyncOperationAbi** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE DetectFacesWithSearchAreaAsync(
      IInspectable* bitmap, BitmapBounds area, IAsyncOperationAbi** operation) = 0;
  // Minimum and maximum face sizes follow; the defaults are used.
};

// Windows.Media.FaceAnalysis.IDetectedFace
// {8200D454-66BC-34DF-9410-E89400195414}.
inline constexpr GUID kIID_IDetectedFace = {
    0x8200D454, 0x66BC, 0x34DF, {0x94, 0x10, 0xE8, 0x94, 0x00, 0x19, 0x54, 0x14}};
struct IDetectedFace : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_FaceBox(BitmapBounds* box) = 0;
};

// Windows.Storage.IStorageFileStatics {5984C710-DAF2-43C8-8BB4-A4D3EACFD03F}.
inline constexpr GUID kIID_IStorageFileStatics = {
    0x5984C710, 0xDAF2, 0x43C8, {0x8B, 0xB4, 0xA4, 0xD3, 0xEA, 0xCF, 0xD0, 0x3F}};
struct IStorageFileStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetFileFromPathAsync(HSTRING path,
                                                         IAsyncOperationAbi** operation) = 0;
  // Further factory methods follow; they are not used.
};

// Windows.Storage.Streams.IRandomAccessStreamReference
// {33EE3134-1DD6-4E3A-8067-D1C162E8642B}, which StorageFile implements.
inline constexpr GUID kIID_IRandomAccessStreamReference = {
    0x33EE3134, 0x1DD6, 0x4E3A, {0x80, 0x67, 0xD1, 0xC1, 0x62, 0xE8, 0x64, 0x2B}};
struct IRandomAccessStreamReference : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE OpenReadAsync(IAsyncOperationAbi** operation) = 0;
};

// Windows.Storage.Streams.IRandomAccessStream
// {905A0FE1-BC53-11DF-8C49-001E4FC686DA}: only passed on, never called.
inline constexpr GUID kIID_IRandomAccessStream = {
    0x905A0FE1, 0xBC53, 0x11DF, {0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA}};

// Windows.Graphics.Imaging.IBitmapDecoderStatics
// {438CCB26-BCEF-4E95-BAD6-23A822E58D01}.
inline constexpr GUID kIID_IBitmapDecoderStatics = {
    0x438CCB26, 0xBCEF, 0x4E95, {0xBA, 0xD6, 0x23, 0xA8, 0x22, 0xE5, 0x8D, 0x01}};
struct IBitmapDecoderStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_BmpDecoderId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_JpegDecoderId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PngDecoderId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TiffDecoderId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_GifDecoderId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_JpegXRDecoderId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IcoDecoderId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDecoderInformationEnumerator(IInspectable** list) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateAsync(IInspectable* stream,
                                                IAsyncOperationAbi** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateWithIdAsync(GUID decoder, IInspectable* stream,
                                                      IAsyncOperationAbi** operation) = 0;
};

// Windows.Graphics.Imaging.IBitmapFrame {72A49A1C-8081-438D-91BC-94ECFC8185C6},
// which BitmapDecoder implements.
inline constexpr GUID kIID_IBitmapFrame = {
    0x72A49A1C, 0x8081, 0x438D, {0x91, 0xBC, 0x94, 0xEC, 0xFC, 0x81, 0x85, 0xC6}};
struct IBitmapFrame : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetThumbnailAsync(IAsyncOperationAbi** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BitmapProperties(IInspectable** properties) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BitmapPixelFormat(int* format) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BitmapAlphaMode(int* mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DpiX(double* dpi) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DpiY(double* dpi) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PixelWidth(std::uint32_t* width) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PixelHeight(std::uint32_t* height) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_OrientedPixelWidth(std::uint32_t* width) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_OrientedPixelHeight(std::uint32_t* height) = 0;
  // Pixel data methods follow; they are not used.
};

// Windows.Graphics.Imaging.IBitmapFrameWithSoftwareBitmap
// {FE287C9A-420C-4963-87AD-691436E08383}.
inline constexpr GUID kIID_IBitmapFrameWithSoftwareBitmap = {
    0xFE287C9A, 0x420C, 0x4963, {0x87, 0xAD, 0x69, 0x14, 0x36, 0xE0, 0x83, 0x83}};
struct IBitmapFrameWithSoftwareBitmap : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetSoftwareBitmapAsync(IAsyncOperationAbi** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetSoftwareBitmapConvertedAsync(int format, int alpha, IAsyncOperationAbi** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSoftwareBitmapTransformedAsync(
      int format, int alpha, IInspectable* transform, int exifOrientation, int colorManagement,
      IAsyncOperationAbi** operation) = 0;
};

// Windows.Graphics.Imaging.IBitmapTransform {AE755344-E268-4D35-ADCF-E995D31A8D34}.
// Its scaled sizes are in the stored pixels' space, before any EXIF turn.
inline constexpr GUID kIID_IBitmapTransform = {
    0xAE755344, 0xE268, 0x4D35, {0xAD, 0xCF, 0xE9, 0x95, 0xD3, 0x1A, 0x8D, 0x34}};
struct IBitmapTransform : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_ScaledWidth(std::uint32_t* width) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ScaledWidth(std::uint32_t width) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ScaledHeight(std::uint32_t* height) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ScaledHeight(std::uint32_t height) = 0;
  // Interpolation, flip, rotation and bounds follow; they are not used.
};

// Windows.Graphics.Imaging.ISoftwareBitmap {689E0708-7EEF-483F-963F-DA938818E073}.
inline constexpr GUID kIID_ISoftwareBitmap = {
    0x689E0708, 0x7EEF, 0x483F, {0x96, 0x3F, 0xDA, 0x93, 0x88, 0x18, 0xE0, 0x73}};
struct ISoftwareBitmap : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_BitmapPixelFormat(int* format) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BitmapAlphaMode(int* mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PixelWidth(std::int32_t* width) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PixelHeight(std::int32_t* height) = 0;
  // Further members follow; they are not used.
};

// Windows.Graphics.Imaging.ISoftwareBitmapStatics
// {DF0385DB-672F-4A9D-806E-C2442F343E86}: SoftwareBitmap's static methods,
// from its activation factory.
inline constexpr GUID kIID_ISoftwareBitmapStatics = {
    0xDF0385DB, 0x672F, 0x4A9D, {0x80, 0x6E, 0xC2, 0x44, 0x2F, 0x34, 0x3E, 0x86}};
struct ISoftwareBitmapStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Copy(IInspectable* source, ISoftwareBitmap** bitmap) = 0;
  virtual HRESULT STDMETHODCALLTYPE Convert(IInspectable* source, int format,
                                            ISoftwareBitmap** bitmap) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConvertWithAlpha(IInspectable* source, int format, int alpha,
                                                     ISoftwareBitmap** bitmap) = 0;
  // `source` is an IBuffer holding the rows, top to bottom, without padding.
  virtual HRESULT STDMETHODCALLTYPE CreateCopyFromBuffer(IInspectable* source, int format,
                                                         std::int32_t width, std::int32_t height,
                                                         ISoftwareBitmap** bitmap) = 0;
  // The alpha mode and surface methods follow; they are not used.
};

// Windows.Storage.Streams.IBuffer {905A0FE0-BC53-11DF-8C49-001E4FC686DA}.
inline constexpr GUID kIID_IBuffer = {
    0x905A0FE0, 0xBC53, 0x11DF, {0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA}};
struct IBufferAbi : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Capacity(std::uint32_t* capacity) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Length(std::uint32_t* length) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Length(std::uint32_t length) = 0;
};

// IBufferByteAccess {905A0FEF-BC53-11DF-8C49-001E4FC686DA} (robuffer.h): the
// bytes behind an IBuffer. A COM interface, not an IInspectable one.
inline constexpr GUID kIID_IBufferByteAccess = {
    0x905A0FEF, 0xBC53, 0x11DF, {0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA}};
struct IBufferByteAccessAbi : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Buffer(BYTE** bytes) = 0;
};

// The runtime class names.
inline constexpr wchar_t kFaceDetectorClass[] = L"Windows.Media.FaceAnalysis.FaceDetector";
inline constexpr wchar_t kStorageFileClass[] = L"Windows.Storage.StorageFile";
inline constexpr wchar_t kBitmapDecoderClass[] = L"Windows.Graphics.Imaging.BitmapDecoder";
inline constexpr wchar_t kBitmapTransformClass[] = L"Windows.Graphics.Imaging.BitmapTransform";
inline constexpr wchar_t kSoftwareBitmapClass[] = L"Windows.Graphics.Imaging.SoftwareBitmap";

}  // namespace runner::winrt_abi
