// Failures inside the component travel as exceptions that carry an HRESULT and
// become return codes at each component boundary:
//
//   HRESULT CFoo::Bar() {
//     trace_scope scope("CFoo::Bar");
//     try {
//       THROW_IF_FAILED(step());
//       return S_OK;
//     }
//     CATCH_RETURN();
//   }
#pragma once

#include <windows.h>

#include <exception>
#include <new>

namespace support {

class hresult_error : public std::exception {
 public:
  hresult_error(HRESULT hr, const char* expression = nullptr) noexcept
      : m_hr(hr), m_expression(expression) {}
  HRESULT code() const noexcept { return m_hr; }
  const char* expression() const noexcept { return m_expression ? m_expression : ""; }
  const char* what() const noexcept override { return "hresult_error"; }

 private:
  HRESULT m_hr;
  const char* m_expression;
};

[[noreturn]] inline void throw_hresult(HRESULT hr, const char* expression = nullptr) {
  throw hresult_error(hr, expression);
}

inline HRESULT hresult_from_win32(DWORD error) {
  return error == 0 ? S_OK : HRESULT_FROM_WIN32(error);
}

[[noreturn]] inline void throw_last_error(const char* expression = nullptr) {
  const DWORD error = ::GetLastError();
  throw_hresult(error ? HRESULT_FROM_WIN32(error) : E_FAIL, expression);
}

// The HRESULT of the exception being handled: the carried code, E_OUTOFMEMORY
// for bad_alloc, E_UNEXPECTED for anything else. Traces the failure.
HRESULT result_from_caught_exception() noexcept;

}  // namespace support

#define CV_STRINGIZE2(x) #x
#define CV_STRINGIZE(x) CV_STRINGIZE2(x)

#define THROW_IF_FAILED(expr)                                              \
  do {                                                                     \
    const HRESULT cv_hr_ = (expr);                                         \
    if (FAILED(cv_hr_))                                                    \
      ::support::throw_hresult(cv_hr_, #expr " @" CV_STRINGIZE(__LINE__)); \
  } while (0)

#define THROW_HR(hr) ::support::throw_hresult((hr), "@" CV_STRINGIZE(__LINE__))

#define THROW_LAST_ERROR_IF(cond)                                     \
  do {                                                                \
    if (cond)                                                         \
      ::support::throw_last_error(#cond " @" CV_STRINGIZE(__LINE__)); \
  } while (0)

#define THROW_WIN32_IF_ERROR(expr)                                              \
  do {                                                                          \
    const LONG cv_err_ = (expr);                                                \
    if (cv_err_ != ERROR_SUCCESS)                                               \
      ::support::throw_hresult(HRESULT_FROM_WIN32(static_cast<DWORD>(cv_err_)), \
                               #expr " @" CV_STRINGIZE(__LINE__));              \
  } while (0)

// Ends a try block at a boundary: returns the caught failure's HRESULT.
#define CATCH_RETURN()                                \
  catch (...) {                                       \
    return ::support::result_from_caught_exception(); \
  }
