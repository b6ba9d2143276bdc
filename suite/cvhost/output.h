// What the host prints: result lines on stdout, messages on stderr, and the
// texts of system error codes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace cvhost {

// Exit codes of the program.
enum exit_code_t : int {
  kExitOk = 0,
  kExitUsage = 1,
  kExitNotRegistered = 2,
  kExitModule = 3,
  kExitClass = 4,
  kExitNoPages = 5,
  kExitCallFailed = 6,
  kExitFile = 7,
  kExitStepFailed = 8,
};

// Ends the run with an exit code and a message for stderr.
class host_error {
 public:
  host_error(int exit_code, std::string message)
      : m_exit_code(exit_code), m_message(std::move(message)) {}
  int exit_code() const noexcept { return m_exit_code; }
  const std::string& message() const noexcept { return m_message; }

 private:
  int m_exit_code;
  std::string m_message;
};

std::string utf8(std::wstring_view text);
std::wstring wide(std::string_view text);

// "0x8000FFFF": an HRESULT as the result lines show it.
std::string hex(HRESULT hr);

// The system's text for a Win32 error code or an HRESULT, without the line end;
// "unknown error" when the system has none.
std::string error_text(DWORD code);
std::string hresult_text(HRESULT hr);

// A result line on stdout, flushed at once so that it survives a crash later on.
void print_result(const std::string& line);
// A message line on stderr, prefixed with the program name.
void print_message(const std::string& line);

}  // namespace cvhost
