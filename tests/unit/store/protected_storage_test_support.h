// Helpers of the protected-storage tests: files beside the test program, a
// store of this test process that is removed afterwards, fault values of the
// stand-in, child processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "suite/include/pstore_api.h"
#include "suite/include/suite_api.h"

namespace pstest {

// A file in the folder of the test program.
inline std::wstring beside_program(const std::wstring& file) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

inline std::wstring appdata_store_file(const std::wstring& store) {
  wchar_t appdata[MAX_PATH];
  ::ExpandEnvironmentStringsW(L"%APPDATA%", appdata, MAX_PATH);
  return std::wstring(appdata) + L"\\Corvantis\\PStore\\" + store + L".dat";
}

// A store of its own for each test; its files go when the object does.
class scratch_store {
 public:
  scratch_store() {
    static int count = 0;
    m_name = L"CvTest PStore " + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(++count);
    m_file = appdata_store_file(m_name);
  }
  ~scratch_store() {
    ::DeleteFileW(m_file.c_str());
    ::DeleteFileW((m_file + L".new").c_str());
  }
  scratch_store(const scratch_store&) = delete;
  scratch_store& operator=(const scratch_store&) = delete;
  const std::wstring& name() const { return m_name; }
  const std::wstring& file() const { return m_file; }
  std::vector<BYTE> file_bytes() const {
    std::vector<BYTE> bytes;
    const HANDLE file = ::CreateFileW(m_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return bytes;
    bytes.resize(::GetFileSize(file, nullptr));
    DWORD done = 0;
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    ::CloseHandle(file);
    bytes.resize(done);
    return bytes;
  }

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
  void set(const std::wstring& name, DWORD value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, key().c_str(), name.c_str(), REG_DWORD, &value,
                      sizeof value);
    m_names.push_back(name);
  }
  void fail(const std::wstring& entry_point, HRESULT hr) {
    set(L"Fail_" + entry_point, static_cast<DWORD>(hr));
  }

 private:
  static std::wstring key() { return std::wstring(CV_STANDIN_FAULT_KEY) + L"\\CvoPS"; }
  std::vector<std::wstring> m_names;
};

// Runs a program beside the test program to its end; its exit code.
inline DWORD run_child(const std::wstring& arguments) {
  std::wstring command =
      L"\"" + beside_program(L"protected_storage_child.exe") + L"\" " + arguments;
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return static_cast<DWORD>(-1);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

}  // namespace pstest
