// Helpers of the Windows test programs: the program's own folder, other programs
// run with their output collected, registry values, keys and environment
// variables of a test's own, fault values of the stand-ins, scratch folders and
// files.
#pragma once

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "suite/include/suite_api.h"

namespace testsupport {

// A file in the folder of this program; the folder itself (with a trailing
// backslash) for "".
inline std::wstring program_file(const std::wstring& file) {
  wchar_t path[MAX_PATH];
  const std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

// Creates a file with the given bytes; false when it cannot be written.
inline bool write_file(const std::wstring& path, std::string_view bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

// The bytes of a file; empty when it cannot be read.
inline std::string read_file(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of a text file, without their line ends; none when it cannot be read.
inline std::vector<std::string> read_lines(const std::wstring& path) {
  std::ifstream in{std::filesystem::path(path)};
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

struct program_run_t {
  DWORD exit_code = 0xFFFFFFFF;  // also when the program could not be started
  std::string output;            // its standard output, CR LF as LF
};

// Runs a command line to its end; its standard error stays ours.
inline program_run_t run_program(std::wstring command) {
  program_run_t result;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inherit, 0))
    return result;
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{sizeof(startup)};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
  ::CloseHandle(write_end);  // the child holds the only write end now
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0)
      result.output.append(buffer, got);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &result.exit_code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(read_end);
  std::erase(result.output, '\r');
  return result;
}

// Waits for a process while this thread's windows get their messages, each
// one shown to `seen` first; gives the exit code.
inline DWORD wait_pumping(HANDLE process, const std::function<void(const MSG&)>& seen = {}) {
  for (bool ended = false; !ended;) {
    ended =
        ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0 + 1;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (seen)
        seen(message);
      ::DispatchMessageW(&message);
    }
  }
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(process, &code);
  return code;
}

// Runs a command line to its end with wait_pumping; the system's error when it
// cannot be started.
inline DWORD run_pumping(std::wstring command) {
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return ::GetLastError();
  const DWORD code = wait_pumping(process.hProcess);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

// Writes a value, creating its key when missing; view may pick a registry view.
inline LSTATUS set_reg_value(HKEY root,
                             const std::wstring& path,
                             const wchar_t* name,
                             DWORD type,
                             const void* data,
                             DWORD size,
                             REGSAM view = 0) {
  HKEY key = nullptr;
  LSTATUS status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                                     nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(key);
  }
  return status;
}
inline LSTATUS set_reg_dword(HKEY root,
                             const std::wstring& path,
                             const wchar_t* name,
                             DWORD value) {
  return set_reg_value(root, path, name, REG_DWORD, &value, sizeof value);
}
inline LSTATUS set_reg_string(HKEY root,
                              const std::wstring& path,
                              const wchar_t* name,
                              const std::wstring& value,
                              REGSAM view = 0) {
  return set_reg_value(root, path, name, REG_SZ, value.c_str(),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), view);
}

// A key of the test's own, HKCU\Software\CVTests\<name>_<pid>_<n>, removed with
// everything below it at the end of its scope.
class scratch_key_t {
 public:
  explicit scratch_key_t(const std::wstring& name) {
    static int count = 0;
    m_path = L"Software\\CVTests\\" + name + L"_" + std::to_wstring(::GetCurrentProcessId()) +
             L"_" + std::to_wstring(++count);
    ::RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &m_key, nullptr);
  }
  ~scratch_key_t() {
    ::RegCloseKey(m_key);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\CVTests");  // only when nothing else is left
  }
  scratch_key_t(const scratch_key_t&) = delete;
  scratch_key_t& operator=(const scratch_key_t&) = delete;
  HKEY get() const { return m_key; }

 private:
  std::wstring m_path;
  HKEY m_key = nullptr;
};

// An environment variable of this process (and of the processes it starts)
// for the life of the object; set() changes it again (null removes it).
class scoped_environment_t {
 public:
  scoped_environment_t(const wchar_t* name, const std::wstring& value) : m_name(name) {
    wchar_t old[4096];
    const DWORD length = ::GetEnvironmentVariableW(name, old, 4096);
    if (length > 0 && length < 4096)
      m_old = std::wstring(old, length);
    set(value.c_str());
  }
  ~scoped_environment_t() { set(m_old ? m_old->c_str() : nullptr); }
  scoped_environment_t(const scoped_environment_t&) = delete;
  scoped_environment_t& operator=(const scoped_environment_t&) = delete;
  void set(const wchar_t* value) { ::SetEnvironmentVariableW(m_name.c_str(), value); }

 private:
  std::wstring m_name;
  std::optional<std::wstring> m_old;
};

// Fault values of a stand-in under HKCU\Software\CorvantisStandIns\<library>;
// each one set is removed again. Test programs that set them hold the lock of
// that stand-in.
class standin_faults_t {
 public:
  explicit standin_faults_t(const std::wstring& library)
      : m_key(std::wstring(CV_STANDIN_FAULT_KEY) + L"\\" + library) {}
  ~standin_faults_t() {
    for (const auto& name : m_names)
      ::RegDeleteKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), name.c_str());
  }
  standin_faults_t(const standin_faults_t&) = delete;
  standin_faults_t& operator=(const standin_faults_t&) = delete;
  // The entry point returns hr.
  void fail(const std::wstring& entry_point, HRESULT hr) {
    set(L"Fail_" + entry_point, static_cast<DWORD>(hr));
  }
  // The entry point raises an access violation.
  void crash(const std::wstring& entry_point) { set(L"Crash_" + entry_point, 1); }
  // The entry point waits `ms` (until the value goes) before anything else.
  void stall(const std::wstring& entry_point, DWORD ms) { set(L"Stall_" + entry_point, ms); }

 private:
  void set(const std::wstring& name, DWORD value) {
    m_names.push_back(name);
    set_reg_dword(HKEY_CURRENT_USER, m_key, name.c_str(), value);
  }
  std::wstring m_key;
  std::vector<std::wstring> m_names;
};

// A new folder under the temporary folder, removed with all it holds at the end
// of its scope.
class scratch_folder_t {
 public:
  scratch_folder_t() {
    static int count = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_path = temp + (L"cvtest_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                     std::to_wstring(++count) + L"\\");
    std::error_code ignored;  // what a crashed program of the same id left there goes first
    std::filesystem::remove_all(m_path, ignored);
    std::filesystem::create_directories(m_path);
  }
  ~scratch_folder_t() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  scratch_folder_t(const scratch_folder_t&) = delete;
  scratch_folder_t& operator=(const scratch_folder_t&) = delete;
  // With a trailing backslash.
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

// Points the suite's component folder ("BinDir" of HKLM
// SOFTWARE\Corvantis\Applications\KVX) at a folder for its scope, then puts back
// what was there. Tests that use it hold the "hklm" lock.
class scoped_component_folder_t {
 public:
  explicit scoped_component_folder_t(const std::wstring& folder) {
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                      &m_disposition);
    DWORD size = 0;
    if (::RegQueryValueExW(m_key, L"BinDir", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      m_old.resize(size / sizeof(wchar_t) + 1);
      ::RegQueryValueExW(m_key, L"BinDir", nullptr, nullptr, reinterpret_cast<BYTE*>(m_old.data()),
                         &size);
      m_had_value = true;
    }
    write(folder);
  }
  ~scoped_component_folder_t() {
    if (m_had_value)
      write(m_old.c_str());
    else
      ::RegDeleteValueW(m_key, L"BinDir");
    ::RegCloseKey(m_key);
    if (m_disposition == REG_CREATED_NEW_KEY)
      ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
  }
  scoped_component_folder_t(const scoped_component_folder_t&) = delete;
  scoped_component_folder_t& operator=(const scoped_component_folder_t&) = delete;

 private:
  static constexpr wchar_t kKey[] = L"SOFTWARE\\Corvantis\\Applications\\KVX";
  void write(const std::wstring& value) {
    ::RegSetValueExW(m_key, L"BinDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  HKEY m_key = nullptr;
  DWORD m_disposition = 0;
  bool m_had_value = false;
  std::wstring m_old;
};

}  // namespace testsupport
