// Boxes and menus answered from inside their own modal loops, as a user would.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "suite/common/box_answer.h"

namespace {

using standin::box_reply_t;
using standin::CBoxAnswer;
using standin::CMenuAnswer;

// A dialog with an edit control (id 100) that keeps what was typed on OK.
std::wstring g_typed;

INT_PTR CALLBACK edit_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG)
    return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    wchar_t text[64] = {};
    ::GetDlgItemTextW(dialog, 100, text, 64);
    g_typed = text;
    ::EndDialog(dialog, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

std::vector<WORD> edit_dialog_template() {
  std::vector<WORD> words;
  auto put = [&words](const void* data, size_t size) {
    const auto* w = static_cast<const WORD*>(data);
    words.insert(words.end(), w, w + size / sizeof(WORD));
  };
  auto align = [&words] {
    if (words.size() % 2)
      words.push_back(0);
  };
  DLGTEMPLATE dialog{WS_POPUP | WS_CAPTION | DS_MODALFRAME, 0, 2, 0, 0, 120, 50};
  put(&dialog, sizeof dialog);
  words.insert(words.end(), {0, 0, 'N', 'a', 'm', 'e', 0});
  for (const auto& [id, cls, style] : {std::tuple<WORD, WORD, DWORD>{100, 0x0081, ES_AUTOHSCROLL},
                                       {IDOK, 0x0080, BS_DEFPUSHBUTTON}}) {
    align();
    DLGITEMTEMPLATE item{WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 5, 5, 100, 14, id};
    if (id == IDOK)
      item.y = 25;
    put(&item, sizeof item);
    words.insert(words.end(), {0xFFFF, cls});
    words.insert(words.end(), {'O', 'K', 0, 0});
  }
  return words;
}

TEST(BoxAnswer, MessageBoxesByIdTextOrGivenUp) {
  struct case_t {
    UINT style;
    box_reply_t reply;
    int expected;
    bool answered;
  };
  box_reply_t by_text;
  by_text.button = 0;
  by_text.button_text = L"no";
  box_reply_t missing;
  missing.button = 999;
  missing.timeout_ms = 100;
  const case_t cases[] = {
      {MB_YESNO, {.button = IDYES}, IDYES, true},
      {MB_YESNOCANCEL, by_text, IDNO, true},
      {MB_OKCANCEL, missing, IDCANCEL, false},
  };
  // A dialog that is there before the answer is armed (as a property sheet is) and
  // becomes active again is not the box to answer.
  const std::vector<WORD> existing_template = edit_dialog_template();
  const HWND existing = ::CreateDialogIndirectParamW(
      ::GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(existing_template.data()),
      nullptr, edit_dialog, 0);
  ASSERT_NE(existing, nullptr);
  ::ShowWindow(existing, SW_SHOW);
  for (const case_t& c : cases) {
    CBoxAnswer answer(c.reply);
    ::SetActiveWindow(nullptr);
    ::SetActiveWindow(existing);
    EXPECT_EQ(::MessageBoxW(existing, L"Delete the logon?", L"Logons", c.style), c.expected);
    ASSERT_TRUE(answer.done());
    EXPECT_EQ(answer.seen().answered, c.answered) << answer.seen().failure;
    EXPECT_EQ(answer.seen().caption, L"Logons");
    EXPECT_NE(answer.seen().text.find(L"Delete the logon?"), std::wstring::npos);
    EXPECT_EQ(answer.seen().failure.empty(), c.answered);
    EXPECT_NE(answer.seen().window, existing);
  }
  ::DestroyWindow(existing);
}

TEST(BoxAnswer, TypesIntoTheEditThenPresses) {
  const std::vector<WORD> dialog = edit_dialog_template();
  box_reply_t reply;
  reply.set_edit = true;
  reply.edit_text = L"Shopping";
  CBoxAnswer answer(reply);
  const INT_PTR result = ::DialogBoxIndirectParamW(
      ::GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(dialog.data()), nullptr,
      edit_dialog, 0);
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(g_typed, L"Shopping");
  EXPECT_EQ(answer.seen().caption, L"Name");
}

TEST(MenuAnswer, ChoosesEnabledItemsOnly) {
  const HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 100, 100, nullptr,
                                       nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  const HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING, 10, L"&Open");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING | MF_GRAYED, 20, L"&Edit");
  ::AppendMenuW(menu, MF_STRING, 30, L"&Delete");
  struct case_t {
    UINT command;
    UINT expected;
    bool answered;
  };
  for (const case_t& c : {case_t{30, 30, true}, case_t{10, 10, true}, case_t{20, 0, false},
                          case_t{99, 0, false}, case_t{0, 0, true}}) {
    CMenuAnswer answer(c.command, 2000);
    const UINT chosen = static_cast<UINT>(
        ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, 10, 10, 0, owner, nullptr));
    EXPECT_EQ(chosen, c.expected) << c.command;
    ASSERT_TRUE(answer.done()) << c.command;
    EXPECT_EQ(answer.seen().answered, c.answered) << answer.seen().failure;
    ASSERT_EQ(answer.seen().items.size(), 4u);
    EXPECT_EQ(answer.seen().items[3].text, L"&Delete");
    EXPECT_TRUE(answer.seen().items[1].separator);
    EXPECT_TRUE(answer.seen().items[2].state & MFS_GRAYED);
  }
  ::DestroyMenu(menu);
  ::DestroyWindow(owner);
}

TEST(BoxAnswer, Mnemonics) {
  EXPECT_EQ(standin::without_mnemonics(L"&Yes"), L"Yes");
  EXPECT_EQ(standin::without_mnemonics(L"Save && close&"), L"Save & close");
}

}  // namespace
