#include "plugin/branding.h"

#include <atomic>
#include <cstdio>

#include "plugin/module.h"
#include "plugin/portable/resource_strings.h"
#include "support/registry.h"
#include "tracing/trace.h"

namespace plugin {
namespace {

constexpr UINT kBrandingKeyStringId = 900;
constexpr UINT kProductNameId = 103;
constexpr int kStringBuffer = 260;

std::atomic<HMODULE> g_branding{nullptr};

// The raw string without the placeholder replaced.
std::wstring raw_string(HMODULE module, UINT id) {
  if ((id >> 16) == 0xFFFF)
    return std::wstring();
  const WORD block_id = static_cast<WORD>(id / 16 + 1);
  HRSRC found = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block_id),
                                  ::GetUserDefaultUILanguage());
  if (found == nullptr)
    found = ::FindResourceW(module, MAKEINTRESOURCEW(block_id), RT_STRING);
  if (found != nullptr) {
    const HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(module, found);
    if (data != nullptr) {
      if (auto text = string_table_entry(static_cast<const std::uint8_t*>(data), size, id % 16))
        return *text;
    }
  }
  wchar_t buffer[kStringBuffer];
  const int length = ::LoadStringW(module, id, buffer, kStringBuffer);
  return length > 0 ? std::wstring(buffer, static_cast<std::size_t>(length)) : std::wstring();
}

}  // namespace

HMODULE CBranding::LoadResourceDLL() noexcept {
  if (HMODULE loaded = g_branding.load())
    return loaded;
  tracecore::trace_scope scope("CBranding::LoadResourceDLL");
  try {
    std::wstring key_path = raw_string(module().instance(), kBrandingKeyStringId);
    if (key_path.empty())
      key_path = L"SOFTWARE\\Corvantis\\Branding\\Common";
    const auto key = support::try_open_key(HKEY_LOCAL_MACHINE, key_path.c_str(), KEY_QUERY_VALUE);
    if (!key) {
      tracecore::trace_format("Open Branding key %ls in registry Failed", key_path.c_str());
      return nullptr;
    }
    auto path = support::try_get_string(key->get(), L"DLLPath");
    if (!path || path->empty() || path->size() >= MAX_PATH) {
      tracecore::trace_text("Failed to find DllPath under Branding key in registry");
      return nullptr;
    }
    HMODULE library = ::LoadLibraryExW(path->c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (library == nullptr) {
      tracecore::trace_format("failed to load resource dll , GetLastError returned 0x%08x",
                              static_cast<unsigned>(::GetLastError()));
      return nullptr;
    }
    HMODULE expected = nullptr;
    if (!g_branding.compare_exchange_strong(expected, library)) {
      ::FreeLibrary(library);  // another thread won; keep its handle
      return expected;
    }
    return library;
  } catch (...) {
    return nullptr;
  }
}

std::wstring CBranding::ProductName() {
  HMODULE branding = LoadResourceDLL();
  if (branding == nullptr)
    return std::wstring();
  std::wstring name = raw_string(branding, kProductNameId);
  if (name.size() >= kStringBuffer)
    name.resize(kStringBuffer - 1);
  return name;
}

std::wstring CBranding::LoadString(HMODULE module, UINT id) {
  std::wstring text = raw_string(module, id);
  if (text.find(L"<<%") != std::wstring::npos)
    text = replace_product_name(std::move(text), ProductName());
  return text;
}

std::wstring CBranding::LoadBrandedString(UINT id) {
  HMODULE branding = LoadResourceDLL();
  return branding ? LoadString(branding, id) : std::wstring();
}

}  // namespace plugin
