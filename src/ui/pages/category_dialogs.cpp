#include "ui/pages/category_dialogs.h"

#include <cwctype>

#include "quicklinks/categories.h"
#include "tracing/trace.h"

namespace ui {

std::wstring TrimCategoryName(const std::wstring& text) {
  const auto blank = [](wchar_t c) { return std::iswspace(c) != 0; };
  std::size_t first = 0, last = text.size();
  while (first < last && blank(text[first]))
    ++first;
  while (last > first && blank(text[last - 1]))
    --last;
  return text.substr(first, last - first);
}

CCategoryNameDialog::CCategoryNameDialog(std::vector<std::wstring> existing, std::wstring current)
    : m_existing(std::move(existing)), m_current(std::move(current)) {}

LRESULT CCategoryNameDialog::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
  const HWND edit = GetDlgItem(kIdcCategoryName);
  ::SendMessageW(edit, EM_LIMITTEXT, quicklinks::kMaxCategoryName, 0);
  ::SetWindowTextW(edit, m_current.c_str());
  ::SendMessageW(edit, EM_SETSEL, 0, -1);
  ::ShowWindow(GetDlgItem(kIdcCategoryHint), SW_HIDE);
  ::EnableWindow(GetDlgItem(IDOK), !TrimCategoryName(m_current).empty());
  ::SetFocus(edit);
  return FALSE;  // the focus is set
}

std::wstring CCategoryNameDialog::FieldText() const {
  const HWND edit = GetDlgItem(kIdcCategoryName);
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool CCategoryNameDialog::Taken(const std::wstring& name) const {
  for (const std::wstring& other : m_existing) {
    if (::CompareStringOrdinal(other.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL &&
        ::CompareStringOrdinal(other.c_str(), -1, m_current.c_str(), -1, TRUE) != CSTR_EQUAL)
      return true;
  }
  return false;
}

LRESULT CCategoryNameDialog::OnNameChanged(WORD, WORD, HWND, BOOL&) {
  ::EnableWindow(GetDlgItem(IDOK), !TrimCategoryName(FieldText()).empty());
  ::ShowWindow(GetDlgItem(kIdcCategoryHint), SW_HIDE);
  return 0;
}

LRESULT CCategoryNameDialog::OnOk(WORD, WORD, HWND, BOOL&) {
  const std::wstring name = TrimCategoryName(FieldText());
  if (name.empty())
    return 0;
  if (Taken(name)) {
    // Refused: the user sees why and may change the name.
    tracecore::trace_format("category name taken: %ls", name.c_str());
    ::ShowWindow(GetDlgItem(kIdcCategoryHint), SW_SHOW);
    ::MessageBeep(MB_ICONWARNING);
    ::SetFocus(GetDlgItem(kIdcCategoryName));
    ::SendMessageW(GetDlgItem(kIdcCategoryName), EM_SETSEL, 0, -1);
    return 0;
  }
  m_name = name;
  EndDialog(IDOK);
  return 0;
}

LRESULT CCategoryNameDialog::OnCancel(WORD, WORD, HWND, BOOL&) {
  EndDialog(IDCANCEL);
  return 0;
}

}  // namespace ui
