#include "support/dialog_base.h"

#include <prsht.h>

#include "tracing/trace.h"

namespace support {
namespace {

// The messages whose result is the dialog procedure's own return value.
bool returns_directly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return true;
    default:
      return false;
  }
}

}  // namespace

const DLGTEMPLATE* dialog_template(HINSTANCE resources, UINT id) noexcept {
  const HRSRC found = ::FindResourceW(resources, MAKEINTRESOURCEW(id), RT_DIALOG);
  if (found == nullptr)
    return nullptr;
  const HGLOBAL loaded = ::LoadResource(resources, found);
  return loaded ? static_cast<const DLGTEMPLATE*>(::LockResource(loaded)) : nullptr;
}

std::wstring resource_string(HINSTANCE resources, UINT id) {
  if (resources == nullptr)
    return {};
  const wchar_t* text = nullptr;
  // Length 0 asks for a read-only pointer into the resource itself.
  const int length = ::LoadStringW(resources, id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text != nullptr ? std::wstring(text, static_cast<std::size_t>(length))
                                       : std::wstring();
}

HINSTANCE code_module() noexcept {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&code_module), &module);
  return module;
}

INT_PTR CDialogBase::DoModalFrom(HINSTANCE resources, UINT id, HWND owner, LPARAM init) {
  const DLGTEMPLATE* dialog = dialog_template(resources, id);
  if (dialog == nullptr) {
    tracecore::trace_lasterror("dialog template");
    return -1;
  }
  m_initParam = init;
  return ::DialogBoxIndirectParamW(code_module(), dialog, owner, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
}

HWND CDialogBase::CreateFrom(HINSTANCE resources, UINT id, HWND parent, LPARAM init) {
  const DLGTEMPLATE* dialog = dialog_template(resources, id);
  if (dialog == nullptr) {
    tracecore::trace_lasterror("dialog template");
    return nullptr;
  }
  m_initParam = init;
  return ::CreateDialogIndirectParamW(code_module(), dialog, parent, DialogProc,
                                      reinterpret_cast<LPARAM>(this));
}

CDialogBase::~CDialogBase() {
  if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
    ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (message == WM_INITDIALOG && self == nullptr && lparam != 0) {
    self = reinterpret_cast<CDialogBase*>(lparam);
    self->m_hWnd = window;
    ::SetWindowLongPtrW(window, DWLP_USER, lparam);
  }
  return Dispatch(self, window, message, wparam,
                  message == WM_INITDIALOG && self ? self->m_initParam : lparam);
}

INT_PTR CALLBACK CDialogBase::PageDialogProc(HWND window,
                                             UINT message,
                                             WPARAM wparam,
                                             LPARAM lparam) {
  auto* self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (message == WM_INITDIALOG && self == nullptr && lparam != 0) {
    self = reinterpret_cast<CDialogBase*>(reinterpret_cast<const PROPSHEETPAGEW*>(lparam)->lParam);
    if (self != nullptr) {
      self->m_hWnd = window;
      ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
  }
  return Dispatch(self, window, message, wparam,
                  message == WM_INITDIALOG && self ? self->m_initParam : lparam);
}

INT_PTR CDialogBase::Dispatch(CDialogBase* self,
                              HWND window,
                              UINT message,
                              WPARAM wparam,
                              LPARAM lparam) {
  if (self == nullptr)
    return FALSE;
  LRESULT result = 0;
  BOOL handled = FALSE;
  try {
    handled = self->ProcessWindowMessage(window, message, wparam, lparam, result);
  } catch (...) {
    tracecore::trace_error("CDialogBase::DialogProc", static_cast<long>(E_UNEXPECTED));
    handled = FALSE;
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    self->OnFinalMessage(window);
    return FALSE;
  }
  if (!handled)
    return message == WM_INITDIALOG ? TRUE : FALSE;
  if (returns_directly(message))
    return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace support
