#include "support/suite_folder.h"

#include <shlobj.h>

#include "support/registry.h"

namespace support {
namespace {

std::wstring with_backslash(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
    folder += L'\\';
  return folder;
}

std::wstring bin_dir_of(HKEY machine, const wchar_t* key_path) {
  const auto key = try_open_key(machine, key_path, KEY_READ);
  if (!key)
    return std::wstring();
  return try_get_expanded_string(key->get(), L"BinDir").value_or(std::wstring());
}

}  // namespace

bool is_absolute_folder(const std::wstring& path) noexcept {
  if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
    return (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
  return path.size() > 2 && (path[0] == L'\\' || path[0] == L'/') &&
         (path[1] == L'\\' || path[1] == L'/');
}

std::wstring suite_bin_folder(HKEY machine) {
  std::wstring folder = bin_dir_of(machine, L"SOFTWARE\\Corvantis\\Applications\\KVX");
  if (folder.empty())
    folder = bin_dir_of(machine, L"SOFTWARE\\Corvantis\\Applications");
  if (folder.empty()) {
    // The process's "ProgramFiles" variable, else the shell's Program Files folder.
    wchar_t program_files[MAX_PATH] = L"";
    const DWORD length = ::GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH);
    if ((length > 0 && length < MAX_PATH) ||
        SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                                     program_files)))
      folder = with_backslash(program_files) + L"corvantis\\bin\\";
  }
  return is_absolute_folder(folder) ? with_backslash(folder) : std::wstring();
}

}  // namespace support
