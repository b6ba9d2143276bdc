#include "page_site.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "output.h"

namespace cvhost {

using CVONLINEIDSLib::CVHC_PAGE_DESCRIPTOR;

namespace {

// The descriptor must at least reach the page handle.
constexpr DWORD kSmallestDescriptor =
    offsetof(CVHC_PAGE_DESCRIPTOR, hPage) + sizeof(HPROPSHEETPAGE);

std::string addpage_line(LONG order,
                         LONG location,
                         LONG flags,
                         LPCWSTR group,
                         LPCWSTR title,
                         const char* result) {
  return "addpage: order=" + std::to_string(order) + " location=" + std::to_string(location) +
         " flags=" + std::to_string(flags) + " group=" + utf8(group ? group : L"") +
         " title=" + (title ? utf8(title) : std::string("(none)")) + " result=" + result;
}

}  // namespace

com_ptr<CPageSite> CPageSite::create(site_settings_t settings) {
  return com_ptr<CPageSite>::attach(new CPageSite(std::move(settings)));
}

CPageSite::CPageSite(site_settings_t settings) : m_settings(std::move(settings)) {}

HRESULT STDMETHODCALLTYPE CPageSite::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr)
    return E_POINTER;
  *object = nullptr;
  // The page site has no interface identifier of its own: a plug-in calls it
  // through the pointer AddPages hands over, so only IUnknown is answered.
  if (::IsEqualIID(iid, IID_IUnknown)) {
    *object = static_cast<CVONLINEIDSLib::ICVHCPageSite*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CPageSite::AddRef() {
  return static_cast<ULONG>(::InterlockedIncrement(&m_references));
}

ULONG STDMETHODCALLTYPE CPageSite::Release() {
  const LONG left = ::InterlockedDecrement(&m_references);
  if (left == 0)
    delete this;
  return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE CPageSite::AddPage(LONG location,
                                             LPCWSTR group,
                                             LONG order,
                                             LONG flags,
                                             CVHC_PAGE_DESCRIPTOR* page) {
  try {
    return add_page(location, group, order, flags, page);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT STDMETHODCALLTYPE CPageSite::GetProperty(LONG id, VARIANT* value) {
  try {
    return get_property(id, value);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT CPageSite::add_page(LONG location,
                            LPCWSTR group,
                            LONG order,
                            LONG flags,
                            const CVHC_PAGE_DESCRIPTOR* page) {
  if (page == nullptr)
    return E_POINTER;
  // Read no further than the size the plug-in declares; fields it leaves out are 0.
  CVHC_PAGE_DESCRIPTOR descriptor{};
  if (page->cbSize < kSmallestDescriptor)
    return E_INVALIDARG;
  std::memcpy(&descriptor, page, std::min<size_t>(page->cbSize, sizeof descriptor));
  if (descriptor.hPage == nullptr)
    return E_INVALIDARG;

  if (m_settings.refused_orders.count(order) != 0) {
    if (!m_settings.quiet)
      print_result(addpage_line(order, location, flags, group, descriptor.title, "refused"));
    return E_FAIL;
  }

  // The texts are valid only during this call: keep copies.
  received_page_t received;
  received.location = location;
  received.group = group ? group : L"";
  received.order = order;
  received.flags = flags;
  received.size = descriptor.cbSize;
  received.kind = descriptor.kind;
  if (descriptor.title)
    received.title = std::wstring(descriptor.title);
  received.icon_module = descriptor.iconModule;
  received.icon_id = descriptor.iconId;
  m_pages.push_back(std::move(received));
  // Only now is the page ours: had anything above failed, the plug-in would
  // destroy it.
  m_pages.back().page.reset(descriptor.hPage);

  if (!m_settings.quiet)
    print_result(addpage_line(order, location, flags, group, descriptor.title, "accepted"));
  return S_OK;
}

HRESULT CPageSite::get_property(LONG id, VARIANT* value) const {
  if (value == nullptr)
    return E_POINTER;
  ::VariantInit(value);
  auto set_text = [value](const std::wstring& text) -> HRESULT {
    BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr)
      return E_OUTOFMEMORY;
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = copy;
    return S_OK;
  };
  switch (id) {
    case CVONLINEIDSLib::kHostPropertyKind:
      return m_settings.kind ? set_text(*m_settings.kind) : E_FAIL;
    case CVONLINEIDSLib::kHostPropertyFirstView:
      if (m_settings.first_view_missing)
        return E_INVALIDARG;
      if (m_settings.first_view_is_number) {
        V_VT(value) = VT_I4;
        V_I4(value) = m_settings.first_view_number;
        return S_OK;
      }
      return set_text(m_settings.first_view_text);
    default:
      return E_INVALIDARG;
  }
}

}  // namespace cvhost
