// Line outputs: a console window and the debugger.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "tracing/output_storage.h"
#include "tracing/portable/trace_texts.h"

namespace tracecore {
namespace {

constexpr WORD kErrorColour = 0x0C;    // bright red
constexpr WORD kDefaultColour = 0x07;  // light grey

std::wstring widen(const char* text) {
  std::wstring out;
  if (text == nullptr)
    return out;
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length > 1) {
    out.resize(static_cast<std::size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), length);
    out.resize(static_cast<std::size_t>(length - 1));
  }
  return out;
}

BOOL WINAPI console_control_handler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      ::Beep(750, 300);
      return TRUE;
    case CTRL_BREAK_EVENT:
      ::Beep(900, 200);
      return FALSE;
    case CTRL_CLOSE_EVENT:
      ::Beep(600, 200);
      return TRUE;
    case CTRL_LOGOFF_EVENT:
      ::Beep(1000, 200);
      return FALSE;
    case CTRL_SHUTDOWN_EVENT:
      ::Beep(750, 500);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

std::wstring outputstoragewindow_t::error_display_text(const std::wstring& text) {
  const error_text_parts_t parts = split_error_text(text);
  if (!parts.has_blank)
    return text;
  if (parts.code == 0)
    return parts.rest;
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(parts.code), LANG_USER_DEFAULT,
      reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  const support::unique_local owned(message);
  if (length == 0 || message == nullptr) {
    wchar_t hex[16];
    std::swprintf(hex, 16, L"%08X", static_cast<unsigned>(parts.code));
    return hex;
  }
  std::wstring shown(message, length);
  const auto line_break = shown.find_first_of(L"\r\n");
  if (line_break != std::wstring::npos)
    shown.resize(line_break);
  return shown + L" " + parts.rest;
}

void outputstoragewindow_t::set_text_attribute(WORD attribute) {
  if (m_console)
    ::SetConsoleTextAttribute(m_console, attribute);
}

void outputstoragewindow_t::write(char type, const std::wstring& text, const char* function) {
  if (type == 'T') {
    m_timeText = text;
    return;
  }
  if (type != 'D' && type != 'E' && type != 'U')
    return;
  open();
  std::wstring shown = text;
  bool coloured = false;
  if (m_console) {
    if (type == 'E') {
      set_text_attribute(kErrorColour);
      coloured = true;
    } else if (const auto colour = take_colour_marker(shown)) {
      set_text_attribute(static_cast<WORD>(*colour));
      coloured = true;
    }
  }
  if (type == 'E')
    shown = error_display_text(shown);
  std::wstring line;
  wchar_t thread[16];
  std::swprintf(thread, 16, L"0x%x", static_cast<unsigned>(::GetCurrentThreadId()));
  line = thread;
  line += L" " + m_timeText + L" " + widen(function) + L"() ";
  if (type == 'E')
    line += L"*ERR* ";
  line += shown + L"\n";
  output(line);
  if (coloured)
    set_text_attribute(kDefaultColour);
}

outputstorageconsole_t::~outputstorageconsole_t() {
  if (!m_opened)
    return;
  ::SetConsoleCtrlHandler(console_control_handler, FALSE);
  if (m_console)
    ::CloseHandle(m_console);
  m_console = nullptr;
  ::FreeConsole();
}

void outputstorageconsole_t::open() {
  if (m_opened)
    return;
  m_opened = true;
  HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_WRITE | GENERIC_READ, FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) {
    if (!::AllocConsole()) {
      ::FreeConsole();
      ::AllocConsole();
    }
    console = ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
      return;
    }
    if (!::SetConsoleActiveScreenBuffer(console)) {
      ::CloseHandle(console);
      ::FreeConsole();
      return;
    }
    ::SetConsoleScreenBufferSize(console, COORD{140, 1024});
    wchar_t title[512] = L"";
    ::GetConsoleTitleW(title, 512);
    std::vector<wchar_t> prefixed(600);
    std::swprintf(prefixed.data(), prefixed.size(), L"DBG: %ls", title);
    ::SetConsoleTitleW(prefixed.data());
  }
  m_console = console;
  ::SetConsoleCtrlHandler(console_control_handler, TRUE);
}

void outputstorageconsole_t::output(const std::wstring& line) {
  if (line.empty() || m_console == nullptr)
    return;
  DWORD written = 0;
  if (!::WriteConsoleW(m_console, line.c_str(), static_cast<DWORD>(line.size()), &written,
                       nullptr)) {
    // Redirected output (a pipe or a file): write the line as UTF-8 instead.
    const int length = ::WideCharToMultiByte(
        CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), narrow.data(),
                          length, nullptr, nullptr);
    ::WriteFile(m_console, narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
  }
}

void outputstorageide_t::output(const std::wstring& line) {
  ::OutputDebugStringW(line.c_str());
}

}  // namespace tracecore
