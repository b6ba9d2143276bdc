#include "suite/common/standin_paths.h"

#include <shlobj.h>

#include <vector>

#include "support/unique_any.h"

namespace standin {

std::optional<std::wstring> protected_store_file(const std::wstring& store) {
  if (store.empty() || store.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos || store == L"." ||
      store == L"..")
    return std::nullopt;
  wchar_t appdata[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appdata)))
    return std::nullopt;
  return std::wstring(appdata) + L"\\Corvantis\\PStore\\" + store + L".dat";
}

std::optional<std::wstring> current_account() {
  support::unique_handle token;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
      !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
    return std::nullopt;
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0)
    return std::nullopt;
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    return std::nullopt;
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_length = 256;
  DWORD domain_length = 256;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(nullptr, user->User.Sid, name, &name_length, domain, &domain_length,
                           &use))
    return std::nullopt;
  return std::wstring(domain) + L"\\" + name;
}

bool same_name(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace standin
