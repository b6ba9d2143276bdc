// The suite's host for library entry points, "CvRunDll.exe":
//
//   CvRunDll.exe "<library>" "<entry point>" "<value>"...
//
// loads the library, runs the entry point (cvrundll_entry_fn in
// suite/include/fillin_api.h) with the values that follow its name, and ends
// with the entry point's HRESULT as the exit code. A command line with fewer
// than two arguments ends with E_INVALIDARG, a library that does not load with
// its load error, a missing entry point with ERROR_PROC_NOT_FOUND.
//
// Test aid: the environment variable CVRUNDLL_STANDIN_LOG names a file to which
// one UTF-8 line per argument ("arg[<i>]=<text>") and the result
// ("result=0x<hex>") are appended.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "suite/include/fillin_api.h"
#include "support/unique_any.h"

namespace {

constexpr wchar_t kLogVariable[] = L"CVRUNDLL_STANDIN_LOG";

std::string utf8(const std::wstring& text) {
  if (text.empty())
    return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

class run_log_t {
 public:
  run_log_t() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(kLogVariable, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
      return;
    m_file.reset(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  void line(const std::string& text) {
    if (!m_file)
      return;
    const std::string with_end = text + "\n";
    DWORD written = 0;
    ::WriteFile(m_file.get(), with_end.data(), static_cast<DWORD>(with_end.size()), &written,
                nullptr);
  }

 private:
  support::unique_file m_file;
};

HRESULT run(int count, LPWSTR* arguments) {
  if (count < 3)
    return E_INVALIDARG;
  const support::unique_hmodule library(
      ::LoadLibraryExW(arguments[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!library)
    return HRESULT_FROM_WIN32(::GetLastError());
  const std::string name = utf8(arguments[2]);
  const auto entry = reinterpret_cast<cvrundll_entry_fn>(
      reinterpret_cast<void*>(::GetProcAddress(library.get(), name.c_str())));
  if (entry == nullptr)
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  std::vector<LPCWSTR> values(arguments + 3, arguments + count);
  values.push_back(nullptr);
  return entry(count - 3, values.data());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  run_log_t log;
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  const support::unique_local owned(reinterpret_cast<HLOCAL>(arguments));
  if (arguments == nullptr)
    return static_cast<int>(HRESULT_FROM_WIN32(::GetLastError()));
  for (int i = 0; i < count; ++i)
    log.line("arg[" + std::to_string(i) + "]=" + utf8(arguments[i]));

  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  const HRESULT hr = run(count, arguments);
  if (SUCCEEDED(com))
    ::CoUninitialize();

  char result[32];
  std::snprintf(result, sizeof result, "result=0x%08lX", static_cast<unsigned long>(hr));
  log.line(result);
  return static_cast<int>(hr);
}
