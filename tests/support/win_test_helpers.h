// Helpers of the Windows test programs: the program's own folder, other programs
// run with their output collected, registry values written, scratch folders.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace testsupport {

// A file in the folder of this program; the folder itself (with a trailing
// backslash) for "".
inline std::wstring program_file(const std::wstring& file) {
  wchar_t path[MAX_PATH];
  const std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
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
