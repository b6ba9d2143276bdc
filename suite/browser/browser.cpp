// The web browser stand-in. Every start appends one line to the log file named by
// "Log" (REG_SZ) under HKCU\Software\CorvantisStandIns\browser:
//   start exe=<own file name> cwd=<working folder> cmdline=<command line>
// and for a loading-page address ("res://" or "cvql://" MODULE "/qlinkload.htm#id=" N,
// spaces as "%20") one more:
//   page scheme=<scheme> id=<N> module=<MODULE> size=<bytes of QLINKLOAD.HTM>
// with size=none when the module or its page can't be had. "Fail_start" (REG_DWORD),
// when not 0, is the exit code after the start line.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "suite/common/standin_faults.h"

namespace {

constexpr wchar_t kLibrary[] = L"browser";

std::string utf8(const std::wstring& text) {
  std::string out(text.size() * 3 + 1, '\0');
  const int got = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return out;
}

std::wstring log_path() {
  wchar_t path[MAX_PATH] = L"";
  DWORD size = sizeof(path);
  if (::RegGetValueW(HKEY_CURRENT_USER,
                     (std::wstring(L"Software\\CorvantisStandIns\\") + kLibrary).c_str(), L"Log",
                     RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
    return std::wstring();
  return path;
}

void log_line(const std::wstring& file, const std::wstring& line) {
  if (file.empty())
    return;
  const HANDLE out =
      ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE)
    return;
  const std::string text = utf8(line) + "\n";
  DWORD written = 0;
  ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(out);
}

std::wstring own_name() {
  wchar_t path[MAX_PATH];
  const std::wstring full(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  return full.substr(full.find_last_of(L'\\') + 1);
}

// "page ..." for a loading-page address, empty for any other argument.
std::wstring page_line(const std::wstring& address) {
  std::wstring scheme;
  for (const wchar_t* s : {L"res", L"cvql"}) {
    const std::wstring prefix = std::wstring(s) + L"://";
    if (address.compare(0, prefix.size(), prefix) == 0)
      scheme = s;
  }
  if (scheme.empty())
    return std::wstring();
  const std::wstring rest = address.substr(scheme.size() + 3);
  const std::wstring page = L"/qlinkload.htm#id=";
  const std::size_t at = rest.rfind(page);
  if (at == std::wstring::npos)
    return L"page scheme=" + scheme + L" malformed";
  std::wstring module;
  for (std::size_t i = 0; i < at; ++i) {
    if (rest.compare(i, 3, L"%20") == 0) {
      module += L' ';
      i += 2;
    } else {
      module += rest[i];
    }
  }
  std::wstring size = L"none";
  if (HMODULE library = ::LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    if (HRSRC found = ::FindResourceW(library, L"QLINKLOAD.HTM", MAKEINTRESOURCEW(23)))
      size = std::to_wstring(::SizeofResource(library, found));
    ::FreeLibrary(library);
  }
  return L"page scheme=" + scheme + L" id=" + rest.substr(at + page.size()) + L" module=" + module +
         L" size=" + size;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring log = log_path();
  wchar_t folder[MAX_PATH] = L"";
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  log_line(log,
           L"start exe=" + own_name() + L" cwd=" + folder + L" cmdline=" + ::GetCommandLineW());
  if (const auto fail = standin::fault_value(kLibrary, L"Fail_start"); fail && *fail != 0)
    return static_cast<int>(*fail);
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (arguments != nullptr && count > 1) {
    const std::wstring line = page_line(arguments[1]);
    if (!line.empty())
      log_line(log, line);
  }
  ::LocalFree(arguments);
  return 0;
}
