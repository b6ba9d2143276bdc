// The help viewer: appends the parameters it was started with, as one UTF-8
// line, to its log ("CVHHVIEW_STANDIN_LOG", else "%TEMP%\CVHHView.log") and
// exits with the REG_DWORD "ExitCode" of its stand-in key (0 without it).
#include <windows.h>

#include <string>

#include "suite/common/standin_faults.h"

namespace {

std::wstring log_path() {
  wchar_t path[MAX_PATH];
  DWORD length = ::GetEnvironmentVariableW(L"CVHHVIEW_STANDIN_LOG", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH)
    return path;
  length = ::GetTempPathW(MAX_PATH, path);
  return std::wstring(path, length < MAX_PATH ? length : 0) + L"CVHHView.log";
}

void append_line(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string line(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), line.data(), size,
                        nullptr, nullptr);
  line += "\r\n";
  HANDLE file = ::CreateFileW(log_path().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR parameters, int) {
  append_line(parameters ? parameters : L"");
  return static_cast<int>(standin::fault_value(L"CVHHView", L"ExitCode").value_or(0));
}
