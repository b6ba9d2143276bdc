// Helpers of the fill-in and training tests: fault values of the stand-ins,
// environment settings that go again, profile records to store.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "store/portable/profile_records.h"
#include "suite/include/suite_api.h"
#include "tests/support/scratch_files.h"

namespace filltest {

using testsupport::beside_program;
using testsupport::scratch_folder;
using testsupport::write_file;

// Fault values under HKCU\Software\CorvantisStandIns\<library>; each one set
// is removed again. Test programs that set them hold the lock of that stand-in.
class standin_values {
 public:
  explicit standin_values(const std::wstring& library)
      : m_key(std::wstring(CV_STANDIN_FAULT_KEY) + L"\\" + library) {}
  ~standin_values() {
    for (const auto& name : m_names)
      ::RegDeleteKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), name.c_str());
  }
  standin_values(const standin_values&) = delete;
  standin_values& operator=(const standin_values&) = delete;

  void fail(const std::wstring& entry_point, HRESULT hr) {
    const std::wstring name = L"Fail_" + entry_point;
    const DWORD value = static_cast<DWORD>(hr);
    ::RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), name.c_str(), REG_DWORD, &value,
                      sizeof value);
    m_names.push_back(name);
  }

 private:
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

}  // namespace filltest
