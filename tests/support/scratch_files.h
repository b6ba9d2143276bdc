// Files of Windows tests: the folder of the test program (the suite's
// libraries lie there), a scratch folder that goes with everything in it, and
// a file written in one call.
#pragma once

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace testsupport {

// A file in the folder of the test program; the folder itself for "".
inline std::wstring beside_program(const std::wstring& file) {
  wchar_t path[MAX_PATH];
  const std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

inline void write_file(const std::wstring& path, std::string_view bytes) {
  const HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  ::CloseHandle(file);
}

// A new folder below the temporary folder (its path ends in a backslash),
// removed with everything below it.
class scratch_folder {
 public:
  scratch_folder() {
    static int count = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + L"cvtest_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
             std::to_wstring(::GetTickCount()) + L"_" + std::to_wstring(++count) + L"\\";
    ::CreateDirectoryW(m_path.c_str(), nullptr);
  }
  ~scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(m_path).parent_path(), ignored);
  }
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;

  const std::wstring& path() const { return m_path; }
  // The names of the files (not folders) directly in it, sorted.
  std::vector<std::wstring> files() const {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path))
      if (entry.is_regular_file())
        names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::wstring m_path;
};

}  // namespace testsupport
