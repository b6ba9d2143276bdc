// Dialog boxes on the message maps of window_base.h: a dialog object is reached
// from its dialog procedure through DWLP_USER, its handlers run inside the
// procedure's exception boundary, and results go back the way each message
// wants them (DWLP_MSGRESULT, or the procedure's own result for the messages
// that return values directly).
//
//   class CRenameDialog : public support::CDialogImpl<CRenameDialog> {
//    public:
//     enum { IDD = 210 };
//     BEGIN_MSG_MAP(CRenameDialog)
//       MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
//       COMMAND_ID_HANDLER(IDOK, OnOk)
//     END_MSG_MAP()
//   };
//   CRenameDialog dialog;
//   dialog.DoModal(resources, owner);     // the template from the resource module
//
// Templates are read from the resource module and the dialogs created from
// memory, so a module loaded as a data file (a language library) serves too.
#pragma once

#include <windows.h>

#include <string>

#include "support/window_base.h"

namespace support {

// The dialog template `id` of the module, or null (last error set).
const DLGTEMPLATE* dialog_template(HINSTANCE resources, UINT id) noexcept;
// The string `id` of the module; empty when it has none (or no module).
std::wstring resource_string(HINSTANCE resources, UINT id);

// The module whose code this is (the instance windows are created for).
HINSTANCE code_module() noexcept;

class CDialogBase : public CWindowBase {
 public:
  // A modal dialog of the template; -1 when it could not be shown.
  INT_PTR DoModalFrom(HINSTANCE resources, UINT id, HWND owner, LPARAM init = 0);
  // A modeless (child) dialog of the template; null on failure.
  HWND CreateFrom(HINSTANCE resources, UINT id, HWND parent, LPARAM init = 0);
  BOOL EndDialog(INT_PTR result) { return ::EndDialog(m_hWnd, result); }

  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

  ~CDialogBase() override;

  // The procedures dialogs and property pages are created with: WM_INITDIALOG
  // brings the object (a page's through its PROPSHEETPAGE's lParam).
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK PageDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

 protected:
  LPARAM m_initParam = 0;  // handed to WM_INITDIALOG's handler as lParam

 private:
  static INT_PTR Dispatch(CDialogBase* self,
                          HWND window,
                          UINT message,
                          WPARAM wparam,
                          LPARAM lparam);
};

template <typename T>
class CDialogImpl : public CDialogBase {
 public:
  INT_PTR DoModal(HINSTANCE resources, HWND owner, LPARAM init = 0) {
    return DoModalFrom(resources, T::IDD, owner, init);
  }
  HWND Create(HINSTANCE resources, HWND parent, LPARAM init = 0) {
    return CreateFrom(resources, T::IDD, parent, init);
  }
};

}  // namespace support
