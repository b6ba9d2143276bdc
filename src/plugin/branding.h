// Branded texts: the branding resource library named in the registry, string
// lookups with the product-name placeholder, and the product name.
#pragma once

#include <windows.h>

#include <string>

namespace plugin {

class CBranding {
 public:
  // The branding library, loaded as a data file once per process; null when it
  // can't be had (tried again at the next request).
  static HMODULE LoadResourceDLL() noexcept;
  // String id of module with "<<%PN%>>" replaced by the product name; empty
  // when there is no such string.
  static std::wstring LoadString(HMODULE module, UINT id);
  // A string of the branding library.
  static std::wstring LoadBrandedString(UINT id);
  // String 103 of the branding library.
  static std::wstring ProductName();
};

}  // namespace plugin
