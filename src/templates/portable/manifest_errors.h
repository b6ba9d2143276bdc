// Errors raised while loading files the component depends on.
#pragma once

#include <stdexcept>
#include <string>

namespace errors {

// A file that could not be found or opened; what() is the file path (UTF-8).
class fileload_error : public std::runtime_error {
 public:
  enum : int { undef = 0, notfound = 1, noaccess = 2, badfile = 3, badcrc = 4, nodll = 5 };

  fileload_error(int code, const std::string& path) : std::runtime_error(path), m_code(code) {}
  int code() const noexcept { return m_code; }

  // "undef", "notfound", "noaccess", "badfile", "badcrc", "nodll", or "[code]".
  static std::string code_name(int code);
  std::string code_name() const { return code_name(m_code); }

 private:
  int m_code;
};

}  // namespace errors
