// Helpers of the fill-in and training tests: files beside the test program,
// fault and script values of the stand-ins, environment settings that go
// again, profile records to store, a spy on freed task memory.
#pragma once

#include <windows.h>

#include "tests/support/free_spy.h"

#include <objbase.h>
#include <objidl.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "store/portable/profile_records.h"
#include "suite/include/suite_api.h"

namespace filltest {

// A file in the folder of the test program.
inline std::wstring beside_program(const std::wstring& file) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

inline std::wstring program_folder() {
  return beside_program(L"");
}

// Values under HKCU\Software\CorvantisStandIns\<library>; each one set is
// removed again. Test programs that set them hold the lock of that stand-in.
class standin_values {
 public:
  explicit standin_values(std::wstring library) : m_key(key_of(library)) {}
  ~standin_values() {
    for (const auto& name : m_names)
      ::RegDeleteKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), name.c_str());
  }
  standin_values(const standin_values&) = delete;
  standin_values& operator=(const standin_values&) = delete;

  void set(const std::wstring& name, DWORD value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), name.c_str(), REG_DWORD, &value,
                      sizeof value);
    m_names.push_back(name);
  }
  void set(const std::wstring& name, const std::wstring& text) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), name.c_str(), REG_SZ, text.c_str(),
                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    m_names.push_back(name);
  }
  void fail(const std::wstring& entry_point, HRESULT hr) {
    set(L"Fail_" + entry_point, static_cast<DWORD>(hr));
  }

 private:
  static std::wstring key_of(const std::wstring& library) {
    return std::wstring(CV_STANDIN_FAULT_KEY) + L"\\" + library;
  }
  std::wstring m_key;
  std::vector<std::wstring> m_names;
};

// An environment variable of this process (and the processes it starts) for
// the life of the object.
class scoped_environment {
 public:
  scoped_environment(const wchar_t* name, const std::wstring& value) : m_name(name) {
    wchar_t old[4096];
    const DWORD length = ::GetEnvironmentVariableW(name, old, 4096);
    if (length > 0 && length < 4096)
      m_old = std::wstring(old, length);
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~scoped_environment() {
    ::SetEnvironmentVariableW(m_name.c_str(), m_old ? m_old->c_str() : nullptr);
  }
  scoped_environment(const scoped_environment&) = delete;
  scoped_environment& operator=(const scoped_environment&) = delete;

 private:
  std::wstring m_name;
  std::optional<std::wstring> m_old;
};

// A folder of its own below the temporary folder, removed with everything in it.
class scratch_folder {
 public:
  scratch_folder() {
    static int count = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + L"cvfillin_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
             std::to_wstring(++count) + L"\\";
    ::CreateDirectoryW(m_path.c_str(), nullptr);
  }
  ~scratch_folder() {
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((m_path + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          ::DeleteFileW((m_path + found.cFileName).c_str());
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    ::RemoveDirectoryW(m_path.c_str());
  }
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;
  const std::wstring& path() const { return m_path; }
  std::vector<std::wstring> files(const std::wstring& pattern = L"*") const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((m_path + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
      return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        names.emplace_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::wstring m_path;
};

inline void write_file(const std::wstring& path, const std::string& bytes) {
  const HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  ::CloseHandle(file);
}

// A record with items given as (display name, database name, value).
inline serialization::cvprofile_t record(
    int profile_index,
    const std::wstring& name,
    const std::vector<std::tuple<std::wstring, std::string, std::wstring>>& items) {
  serialization::cvprofile_t r;
  r.operation = 1;
  r.profileindex = profile_index;
  r.profilename = name;
  r.qlinkname = name;
  r.submitprofile = 1;
  r.updatedate = "2024-05-01 10:30:00";
  for (const auto& [display, db, value] : items) {
    serialization::cvprofileitem_t& item = r.items.emplace_back();
    item.displayname = display;
    item.dbname = db;
    item.value = value;
  }
  return r;
}

using bytes_t = std::vector<BYTE>;

inline bytes_t bytes_of(const std::wstring& text) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
  return bytes_t(bytes, bytes + text.size() * sizeof(wchar_t));
}

inline bool holds(const bytes_t& block, const bytes_t& part) {
  return std::search(block.begin(), block.end(), part.begin(), part.end()) != block.end();
}

using testsupport::free_spy;

}  // namespace filltest
