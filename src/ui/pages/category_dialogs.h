// The two small dialogs of the manage tab that name a category: one edit field
// limited to what the category store reads back, OK enabled only while the
// field holds a name, and a name that is already a category refused.
//
//   ui::CAddCategory add(existing_names);
//   if (add.DoModal(resources, tab) == IDOK) list.add(add.Name());
//   ui::CRenameCategory rename(existing_names, L"Work");
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/dialog_base.h"

namespace ui {

// Controls of dialogs 204 and 205.
inline constexpr int kIdcCategoryName = 1001;
inline constexpr int kIdcCategoryHint = 1002;  // shown when the name is taken

// The name as the dialogs take it: without leading and trailing blanks.
std::wstring TrimCategoryName(const std::wstring& text);

class CCategoryNameDialog : public support::CDialogBase {
 public:
  // The name the user confirmed (trimmed); empty before OK.
  const std::wstring& Name() const noexcept { return m_name; }

  BEGIN_MSG_MAP(CCategoryNameDialog)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_HANDLER(kIdcCategoryName, EN_CHANGE, OnNameChanged)
    COMMAND_ID_HANDLER(IDOK, OnOk)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
  END_MSG_MAP()

 protected:
  // `existing`: the names in the list; `current`: the name being renamed
  // (empty for a new category), which may be kept or change case.
  CCategoryNameDialog(std::vector<std::wstring> existing, std::wstring current);

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnNameChanged(WORD, WORD, HWND, BOOL&);
  LRESULT OnOk(WORD, WORD, HWND, BOOL&);
  LRESULT OnCancel(WORD, WORD, HWND, BOOL&);
  std::wstring FieldText() const;
  bool Taken(const std::wstring& name) const;

  std::vector<std::wstring> m_existing;
  std::wstring m_current;
  std::wstring m_name;
};

class CAddCategory : public CCategoryNameDialog {
 public:
  enum { IDD = 204 };
  explicit CAddCategory(std::vector<std::wstring> existing)
      : CCategoryNameDialog(std::move(existing), {}) {}
  INT_PTR DoModal(HINSTANCE resources, HWND owner) { return DoModalFrom(resources, IDD, owner); }
};

class CRenameCategory : public CCategoryNameDialog {
 public:
  enum { IDD = 205 };
  CRenameCategory(std::vector<std::wstring> existing, std::wstring current)
      : CCategoryNameDialog(std::move(existing), std::move(current)) {}
  INT_PTR DoModal(HINSTANCE resources, HWND owner) { return DoModalFrom(resources, IDD, owner); }
};

}  // namespace ui
