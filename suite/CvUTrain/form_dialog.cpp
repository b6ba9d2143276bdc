#include "suite/CvUTrain/form_dialog.h"

#include <algorithm>
#include <exception>
#include <new>

#include "suite/include/fillin_api.h"
#include "suite/include/suite_api.h"
#include "support/hresult.h"
#include "support/registry.h"

namespace cvutrain {
namespace {

constexpr wchar_t kScriptVariable[] = L"CVUTRAIN_STANDIN_SCRIPT";
constexpr wchar_t kScriptValue[] = L"Script";
constexpr wchar_t kFaultKey[] = CV_STANDIN_FAULT_KEY L"\\CvUTrain";

// Layout in dialog units.
constexpr short kMargin = 7;
constexpr short kLabelWidth = 80;
constexpr short kFieldX = kMargin + kLabelWidth + 5;
constexpr short kFieldWidth = 160;
constexpr short kFieldHeight = 12;
constexpr short kRowStep = 18;
constexpr short kButtonWidth = 50;
constexpr short kButtonHeight = 14;
constexpr short kDialogWidth = kFieldX + kFieldWidth + kMargin;

// Predefined window classes of dialog templates.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;

// Equal without regard to the case of ASCII letters.
bool same_word(std::wstring_view a, std::wstring_view b) {
  const auto fold = [](wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
  };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](wchar_t x, wchar_t y) { return fold(x) == fold(y); });
}

// A dialog template in memory: DLGTEMPLATE, its strings and font, then one
// DLGITEMTEMPLATE per control, each starting on a DWORD boundary.
class dialog_template_t {
 public:
  dialog_template_t(DWORD style, short cx, short cy, std::wstring_view title) {
    add_dword(style);
    add_dword(0);  // extended style
    m_count_at = m_words.size();
    add_word(0);  // number of controls, filled in by add_control
    add_word(0);  // x
    add_word(0);  // y
    add_word(static_cast<WORD>(cx));
    add_word(static_cast<WORD>(cy));
    add_word(0);  // no menu
    add_word(0);  // the dialog class
    add_string(title);
    add_word(8);  // DS_SETFONT: point size and face
    add_string(L"MS Shell Dlg");
  }

  void add_control(WORD atom,
                   WORD id,
                   DWORD style,
                   short x,
                   short y,
                   short cx,
                   short cy,
                   std::wstring_view text) {
    if (m_words.size() % 2)
      add_word(0);
    add_dword(style | WS_CHILD | WS_VISIBLE);
    add_dword(0);
    add_word(static_cast<WORD>(x));
    add_word(static_cast<WORD>(y));
    add_word(static_cast<WORD>(cx));
    add_word(static_cast<WORD>(cy));
    add_word(id);
    add_word(0xFFFF);
    add_word(atom);
    add_string(text);
    add_word(0);  // no creation data
    ++m_words[m_count_at];
  }

  const DLGTEMPLATE* get() const noexcept {
    return reinterpret_cast<const DLGTEMPLATE*>(m_words.data());
  }

 private:
  void add_word(WORD word) { m_words.push_back(word); }
  void add_dword(DWORD value) {
    add_word(LOWORD(value));
    add_word(HIWORD(value));
  }
  void add_string(std::wstring_view text) {
    for (const wchar_t c : text)
      add_word(static_cast<WORD>(c));
    add_word(0);
  }

  // Words keep the template WORD-aligned; the vector's storage is aligned
  // for any type, so offsets that are even in words are DWORD boundaries.
  std::vector<WORD> m_words;
  std::size_t m_count_at = 0;
};

struct dialog_state_t {
  std::vector<form_row_t>* rows = nullptr;
  HRESULT failure = S_OK;
};

serialization::secure_wstring control_text(HWND control) {
  const int length = ::GetWindowTextLengthW(control);
  if (length <= 0)
    return {};
  std::vector<wchar_t, serialization::wiping_allocator<wchar_t>> chars(
      static_cast<std::size_t>(length) + 1);
  const int copied = ::GetWindowTextW(control, chars.data(), length + 1);
  return serialization::secure_wstring(chars.data(), static_cast<std::size_t>(std::max(copied, 0)));
}

// OK: takes every field's text; refused (the dialog stays) while a required
// field is empty.
bool accept(HWND dialog, std::vector<form_row_t>& rows) {
  std::vector<serialization::secure_wstring> values;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    HWND field = ::GetDlgItem(dialog, CVUTRAIN_FIRST_EDIT_ID + static_cast<int>(i));
    values.push_back(control_text(field));
    if (rows[i].required && values.back().empty()) {
      ::MessageBeep(MB_ICONWARNING);
      ::SetFocus(field);
      return false;
    }
  }
  for (std::size_t i = 0; i < rows.size(); ++i)
    rows[i].value = std::move(values[i]);
  return true;
}

INT_PTR CALLBACK dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  // The dialog procedure is an exception boundary: a failure ends the dialog
  // and is reported by the code that showed it.
  auto* state = reinterpret_cast<dialog_state_t*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  try {
    switch (message) {
      case WM_INITDIALOG: {
        state = reinterpret_cast<dialog_state_t*>(lparam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        const auto& rows = *state->rows;
        for (std::size_t i = 0; i < rows.size(); ++i)
          ::SetDlgItemTextW(dialog, CVUTRAIN_FIRST_EDIT_ID + static_cast<int>(i),
                            rows[i].value.c_str());
        return TRUE;
      }
      case WM_COMMAND:
        if (state == nullptr)
          return FALSE;
        if (LOWORD(wparam) == IDOK) {
          if (accept(dialog, *state->rows))
            ::EndDialog(dialog, IDOK);
          return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        }
        return FALSE;
      case WM_DESTROY:
        // The fields' own copies of the texts go with the controls; empty
        // them first so that no password stays in the control's memory.
        if (state != nullptr)
          for (std::size_t i = 0; i < state->rows->size(); ++i)
            ::SetDlgItemTextW(dialog, CVUTRAIN_FIRST_EDIT_ID + static_cast<int>(i), L"");
        return FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    if (state != nullptr)
      state->failure = caught_failure();
    ::EndDialog(dialog, IDABORT);
    return TRUE;
  }
}

}  // namespace

HRESULT caught_failure() noexcept {
  try {
    throw;
  } catch (const support::hresult_error& e) {
    return e.code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

std::optional<script_t> parse_script(std::wstring_view text) {
  // Split at ";" that is not escaped.
  std::vector<serialization::secure_wstring> entries;
  std::vector<wchar_t, serialization::wiping_allocator<wchar_t>> entry;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == L';') {
      entries.emplace_back(std::wstring_view(entry.data(), entry.size()));
      entry.clear();
    } else if (text[i] == L'\\' && i + 1 < text.size() &&
               (text[i + 1] == L';' || text[i + 1] == L'\\')) {
      entry.push_back(text[++i]);
    } else {
      entry.push_back(text[i]);
    }
  }
  script_t script;
  const std::wstring_view first = entries.front().view();
  if (same_word(first, L"ok"))
    script.ok = true;
  else if (!same_word(first, L"cancel"))
    return std::nullopt;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const std::wstring_view e = entries[i].view();
    if (e.empty())
      continue;
    const std::size_t equals = e.find(L'=');
    if (equals == std::wstring_view::npos)
      return std::nullopt;
    script.answers.emplace_back(std::wstring(e.substr(0, equals)),
                                serialization::secure_wstring(e.substr(equals + 1)));
  }
  return script;
}

std::optional<script_t> current_script() {
  std::optional<serialization::secure_wstring> text;
  if (const DWORD size = ::GetEnvironmentVariableW(kScriptVariable, nullptr, 0); size > 0) {
    std::vector<wchar_t, serialization::wiping_allocator<wchar_t>> chars(size);
    const DWORD length = ::GetEnvironmentVariableW(kScriptVariable, chars.data(), size);
    text = serialization::secure_wstring(chars.data(), std::min<DWORD>(length, size - 1));
  } else if (const auto key =
                 support::try_open_key(HKEY_CURRENT_USER, kFaultKey, KEY_QUERY_VALUE)) {
    if (const auto value = support::try_get_string(key->get(), kScriptValue))
      text = serialization::secure_wstring(*value);
  }
  if (!text)
    return std::nullopt;
  auto script = parse_script(text->view());
  if (!script)
    THROW_HR(E_INVALIDARG);
  return script;
}

bool ask(HINSTANCE module, HWND owner, const std::wstring& title, std::vector<form_row_t>& rows) {
  const std::optional<script_t> script = current_script();
  if (!script)
    return show_form_dialog(module, owner, title, rows);
  if (!script->ok)
    return false;
  for (const auto& [key, value] : script->answers) {
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const form_row_t& r) { return same_word(r.key, key); });
    if (row == rows.end())
      THROW_HR(E_INVALIDARG);
    row->value = value;
  }
  for (const form_row_t& row : rows)
    if (row.required && row.value.empty())
      THROW_HR(E_INVALIDARG);
  return true;
}

bool show_form_dialog(HINSTANCE module,
                      HWND owner,
                      const std::wstring& title,
                      std::vector<form_row_t>& rows) {
  const short buttons_y = static_cast<short>(kMargin + rows.size() * kRowStep + 4);
  const short height = static_cast<short>(buttons_y + kButtonHeight + kMargin);
  dialog_template_t dialog(
      DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, kDialogWidth,
      height, title);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const short y = static_cast<short>(kMargin + i * kRowStep);
    const WORD index = static_cast<WORD>(i);
    dialog.add_control(kStaticAtom, static_cast<WORD>(CVUTRAIN_FIRST_LABEL_ID + index), SS_LEFT,
                       kMargin, static_cast<short>(y + 2), kLabelWidth, 8, rows[i].label + L":");
    DWORD style = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
    if (rows[i].password)
      style |= ES_PASSWORD;
    dialog.add_control(kEditAtom, static_cast<WORD>(CVUTRAIN_FIRST_EDIT_ID + index), style, kFieldX,
                       y, kFieldWidth, kFieldHeight, L"");
  }
  const short cancel_x = static_cast<short>(kDialogWidth - kMargin - kButtonWidth);
  const short ok_x = static_cast<short>(cancel_x - 4 - kButtonWidth);
  dialog.add_control(kButtonAtom, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, ok_x, buttons_y,
                     kButtonWidth, kButtonHeight, L"OK");
  dialog.add_control(kButtonAtom, IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, cancel_x, buttons_y,
                     kButtonWidth, kButtonHeight, L"Cancel");

  dialog_state_t state;
  state.rows = &rows;
  const INT_PTR result = ::DialogBoxIndirectParamW(module, dialog.get(), owner, dialog_proc,
                                                   reinterpret_cast<LPARAM>(&state));
  if (result == -1)
    support::throw_last_error("DialogBoxIndirectParamW");
  if (FAILED(state.failure))
    THROW_HR(state.failure);
  return result == IDOK;
}

}  // namespace cvutrain
