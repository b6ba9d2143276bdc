// Helpers of the protected-storage tests: a store of this test process that is
// removed afterwards, fault values of the stand-in.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "suite/include/pstore_api.h"
#include "suite/include/suite_api.h"
#include "tests/support/win_test_helpers.h"

namespace pstest {

// A store of its own for each test (the stand-in opens it when its name is in
// CVOPS_STANDIN_STORE); its files go when the object does.
class scratch_store {
 public:
  scratch_store() {
    static int count = 0;
    m_name = L"CvTest PStore " + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(++count);
    wchar_t appdata[MAX_PATH];
    ::ExpandEnvironmentStringsW(L"%APPDATA%", appdata, MAX_PATH);
    m_file = std::wstring(appdata) + L"\\Corvantis\\PStore\\" + m_name + L".dat";
    ::SetEnvironmentVariableW(L"CVOPS_STANDIN_STORE", m_name.c_str());
  }
  ~scratch_store() {
    ::SetEnvironmentVariableW(L"CVOPS_STANDIN_STORE", nullptr);
    ::DeleteFileW(m_file.c_str());
    ::DeleteFileW((m_file + L".new").c_str());
  }
  scratch_store(const scratch_store&) = delete;
  scratch_store& operator=(const scratch_store&) = delete;

 private:
  std::wstring m_name;
  std::wstring m_file;
};

// Fault values of the stand-in; each one set is removed again.
class fault_scratch {
 public:
  ~fault_scratch() {
    for (const auto& name : m_names)
      ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key().c_str(), name.c_str());
  }
  void fail(const std::wstring& entry_point, HRESULT hr) {
    set(L"Fail_" + entry_point, static_cast<DWORD>(hr));
  }
  // The entry point raises an access violation.
  void crash(const std::wstring& entry_point) { set(L"Crash_" + entry_point, 1); }

 private:
  static std::wstring key() { return std::wstring(CV_STANDIN_FAULT_KEY) + L"\\CvoPS"; }
  void set(const std::wstring& name, DWORD value) {
    m_names.push_back(name);
    testsupport::set_reg_dword(HKEY_CURRENT_USER, key(), name.c_str(), value);
  }
  std::vector<std::wstring> m_names;
};

}  // namespace pstest
