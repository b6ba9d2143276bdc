// DownloadSiteIcon and the page text it searches.
#include "icons/site_icon.h"

#include <mlang.h>

#include "icons/icon_cache.h"
#include "support/com.h"
#include "support/unique_any.h"
#include "tracing/trace.h"

namespace icons {
namespace {

// IMultiLanguage's interface identifier (not in every SDK's uuid library).
constexpr IID kIidMultiLanguage = {0x275C23E1,
                                   0x3747,
                                   0x11D0,
                                   {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};

}  // namespace

HRESULT DecodePageText(const std::wstring& charset,
                       const std::uint8_t* bytes,
                       std::size_t size,
                       std::wstring& text) {
  text.clear();
  IMultiLanguage* raw = nullptr;
  HRESULT hr = ::CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_ALL, kIidMultiLanguage,
                                  reinterpret_cast<void**>(&raw));
  if (FAILED(hr))
    return hr;
  support::com_ptr<IMultiLanguage> language(raw);
  UINT code_page = 28591;
  if (!charset.empty()) {
    support::unique_bstr name = support::unique_bstr::from(charset);
    MIMECSETINFO info{};
    if (SUCCEEDED(language->GetCharsetInfo(name.get(), &info)))
      code_page = info.uiInternetEncoding;
    else if (const unsigned utf16 = utf16_code_page(charset))
      code_page = utf16;
  }
  if (code_page == 1200 || code_page == 1201) {
    text = utf16_text(bytes, size, code_page == 1201);
    return S_OK;
  }
  if (size > 0x7FFFFFFE)
    return E_INVALIDARG;
  std::wstring buffer(size + 1, L'\0');
  DWORD mode = 0;
  UINT source_size = static_cast<UINT>(size);
  UINT chars = static_cast<UINT>(size + 1);
  hr = language->ConvertStringToUnicode(&mode, code_page,
                                        reinterpret_cast<CHAR*>(const_cast<std::uint8_t*>(bytes)),
                                        &source_size, buffer.data(), &chars);
  if (hr == S_FALSE)
    return E_INVALIDARG;
  if (FAILED(hr))
    return hr;
  buffer.resize(std::min<std::size_t>(chars, size + 1));
  text = std::move(buffer);
  return S_OK;
}

bool FindIconLink(const std::uint8_t* bytes,
                  std::size_t size,
                  const std::wstring& charset,
                  std::wstring& icon_url) {
  std::wstring text;
  const HRESULT hr = DecodePageText(charset, bytes, size, text);
  if (FAILED(hr)) {
    tracecore::trace_error("DecodePageText", hr);
    return false;
  }
  auto link = find_icon_link_in_text(text);
  if (!link)
    return false;
  icon_url = std::move(*link);
  return true;
}

bool DownloadSiteIcon(const std::wstring& page_url,
                      const std::wstring& unique_id,
                      const fetch_limits_t& limits) {
  tracecore::trace_scope scope("DownloadSiteIcon");
  std::wstring icon_url;
  fetch_result_t page;
  if (HttpGetResource(page_url, page, kMaxPageBytes, over_cap_t::cut, limits)) {
    std::wstring charset;
    if (IsHtmlContentType(page.content_type, charset)) {
      // A Content-Base that is no address leaves the page's own address as base.
      auto base = split_url(page.base_url);
      if (!base)
        base = split_url(page_url);
      if (base) {
        std::wstring link;
        FindIconLink(page.body.get(), page.size, charset, link);
        icon_url = resolve_icon_url(*base, link);
      }
    }
  }
  page = fetch_result_t{};
  if (icon_url.empty()) {
    const auto parts = split_url(page_url);
    if (!parts)
      return false;
    icon_url = favicon_url(*parts);
  }
  tracecore::trace_format("Icon address = %ls", icon_url.c_str());

  fetch_result_t icon;
  if (!HttpGetResource(icon_url, icon, kMaxIconFileBytes, over_cap_t::refuse, limits))
    return false;
  if (!IsIconContentType(icon.content_type)) {
    tracecore::trace_format("Not an icon: %ls", icon.content_type.c_str());
    return false;
  }
  if (!small_icon_image(icon.body.get(), icon.size)) {
    tracecore::trace_text("The icon's bytes are not an icon file this component reads");
    return false;
  }
  support::unique_file file(::CreateFileW(IconCachePath(unique_id).c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    tracecore::trace_lasterror("CreateFileW");
    return false;
  }
  DWORD written = 0;
  if (!::WriteFile(file.get(), icon.body.get(), static_cast<DWORD>(icon.size), &written, nullptr) ||
      written != icon.size) {
    tracecore::trace_lasterror("WriteFile");
    return false;
  }
  return true;
}

}  // namespace icons
