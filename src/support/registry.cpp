#include "support/registry.h"

namespace support {

std::optional<unique_hkey> try_open_key(HKEY root, const wchar_t* path, REGSAM access) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path, 0, access, &key) != ERROR_SUCCESS)
    return std::nullopt;
  return unique_hkey(key);
}

std::optional<DWORD> try_get_dword(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value))
    return std::nullopt;
  return value;
}

std::optional<std::wstring> try_get_string(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got) !=
      ERROR_SUCCESS)
    return std::nullopt;
  text.resize(got / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0')
    text.pop_back();
  return text;
}

std::optional<std::wstring> try_get_expanded_string(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  auto text = try_get_string(key, name);
  if (text && type == REG_EXPAND_SZ)
    return expand_environment(*text);
  return text;
}

std::wstring expand_environment(const std::wstring& text) {
  const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0)
    return text;
  std::wstring expanded(needed, L'\0');
  const DWORD got = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
  if (got == 0 || got > needed)
    return text;
  expanded.resize(got - 1);
  return expanded;
}

std::vector<std::wstring> enum_value_names(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[261];
    DWORD length = 261;
    if (::RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  return names;
}

std::vector<std::wstring> enum_subkey_names(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace support
