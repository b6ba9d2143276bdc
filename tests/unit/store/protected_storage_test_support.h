// Helpers of the protected-storage tests: a store of this test process that is
// removed afterwards.
#pragma once

#include <windows.h>

#include <string>

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

}  // namespace pstest
