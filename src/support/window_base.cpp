#include "support/window_base.h"

#include <mutex>

#include "support/hresult.h"
#include "tracing/trace.h"

namespace support {

CWindowBase::~CWindowBase() {
  // The object goes first: the window must not reach it any more.
  if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
    ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
}

bool CWindowBase::DestroyWindow() {
  if (!IsWindow())
    return false;
  return ::DestroyWindow(m_hWnd) != FALSE;
}

HWND CWindowBase::CreateWithClass(const wchar_t* class_name,
                                  HWND parent,
                                  const wchar_t* window_name,
                                  DWORD style,
                                  DWORD ex_style) {
  HINSTANCE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&CWindowBase::WindowProc), &module);
  WNDCLASSEXW existing{sizeof existing};
  if (!::GetClassInfoExW(module, class_name, &existing)) {
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = GetWindowProc();
    wc.hInstance = module;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(1));
    wc.lpszClassName = class_name;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
      return nullptr;
  }
  return ::CreateWindowExW(ex_style, class_name, window_name, style, 0, 0, 0, 0, parent, nullptr,
                           module, this);
}

LRESULT CALLBACK CWindowBase::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<CWindowBase*>(create->lpCreateParams);
    self->m_hWnd = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<CWindowBase*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr)
    return ::DefWindowProcW(window, message, wparam, lparam);
  LRESULT result = 0;
  try {
    if (self->ProcessWindowMessage(window, message, wparam, lparam, result))
      return result;
  } catch (...) {
    tracecore::trace_error("CWindowBase::WindowProc", static_cast<long>(E_UNEXPECTED));
    return 0;
  }
  result = ::DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->m_hWnd = nullptr;
    self->OnFinalMessage(window);
  }
  return result;
}

}  // namespace support
