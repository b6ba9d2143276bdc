#include "png_file.h"

#include <wincodec.h>

#include <cstring>
#include <vector>

#include "com_values.h"

namespace cvhost {

HRESULT write_png(const std::wstring& path,
                  LONG width,
                  LONG height,
                  DWORD stride,
                  const BYTE* bottom_up_pixels) {
  // The imaging component takes rows from the top down.
  std::vector<BYTE> rows(static_cast<size_t>(stride) * static_cast<size_t>(height));
  for (LONG y = 0; y < height; ++y)
    std::memcpy(rows.data() + static_cast<size_t>(y) * stride,
                bottom_up_pixels + static_cast<size_t>(height - 1 - y) * stride, stride);

  com_ptr<IWICImagingFactory> factory;
  HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, factory.put_void());
  com_ptr<IWICBitmap> bitmap;
  if (SUCCEEDED(hr))
    hr = factory->CreateBitmapFromMemory(static_cast<UINT>(width), static_cast<UINT>(height),
                                         GUID_WICPixelFormat24bppBGR, stride,
                                         static_cast<UINT>(rows.size()), rows.data(),
                                         reinterpret_cast<IWICBitmap**>(bitmap.put_void()));
  com_ptr<IWICStream> stream;
  if (SUCCEEDED(hr))
    hr = factory->CreateStream(reinterpret_cast<IWICStream**>(stream.put_void()));
  if (SUCCEEDED(hr))
    hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
  com_ptr<IWICBitmapEncoder> encoder;
  if (SUCCEEDED(hr))
    hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr,
                                reinterpret_cast<IWICBitmapEncoder**>(encoder.put_void()));
  if (SUCCEEDED(hr))
    hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
  com_ptr<IWICBitmapFrameEncode> frame;
  com_ptr<IPropertyBag2> options;
  if (SUCCEEDED(hr))
    hr = encoder->CreateNewFrame(reinterpret_cast<IWICBitmapFrameEncode**>(frame.put_void()),
                                 reinterpret_cast<IPropertyBag2**>(options.put_void()));
  if (SUCCEEDED(hr))
    hr = frame->Initialize(options.get());
  if (SUCCEEDED(hr))
    hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height));
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (SUCCEEDED(hr))
    hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr))
    hr = frame->WriteSource(bitmap.get(), nullptr);
  if (SUCCEEDED(hr))
    hr = frame->Commit();
  if (SUCCEEDED(hr))
    hr = encoder->Commit();
  return hr;
}

}  // namespace cvhost
