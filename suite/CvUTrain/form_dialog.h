// The training stand-in's questions to the user: a dialog of labelled edit
// fields built in memory (one row per field, passwords masked), or, in the
// scripted mode for tests, answers given beforehand.
//
// Scripted mode: the environment variable CVUTRAIN_STANDIN_SCRIPT, else the
// REG_SZ value "Script" under HKCU\Software\CorvantisStandIns\CvUTrain, holds
//   ok;<key>=<value>;<key>=<value>...     answer the rows named, then OK
//   cancel                                cancel
// Entries are separated by ";"; "\;" and "\\" stand for ";" and "\". Rows not
// named keep the value they start with.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/portable/secure_memory.h"

namespace cvutrain {

// The HRESULT of the exception being handled (call inside a catch block): the
// carried code of a support::hresult_error, E_OUTOFMEMORY for bad_alloc,
// E_UNEXPECTED otherwise. Traces nothing: the stand-in never writes into the
// component's trace.
HRESULT caught_failure() noexcept;

struct form_row_t {
  std::wstring key;    // the name a script answers the row by
  std::wstring label;  // shown before the field
  serialization::secure_wstring value;
  bool password = false;  // the field masks its text
  bool required = false;  // OK is refused while the field is empty
};

struct script_t {
  bool ok = false;
  std::vector<std::pair<std::wstring, serialization::secure_wstring>> answers;
};

// Reads a script text; nullopt when it is malformed (neither "ok" nor
// "cancel" first, or an entry without "=").
std::optional<script_t> parse_script(std::wstring_view text);

// The script in effect, if any. A malformed one raises
// support::hresult_error(E_INVALIDARG).
std::optional<script_t> current_script();

// Asks for the rows' values: from the script when one is set, else with the
// dialog (modal, owned by `owner`). True when confirmed, the rows then holding
// the answers; false when cancelled. A script that names an unknown row or
// leaves a required row empty raises support::hresult_error(E_INVALIDARG); a
// dialog that cannot be shown raises the system's error.
bool ask(HINSTANCE module, HWND owner, const std::wstring& title, std::vector<form_row_t>& rows);

// Shows the dialog (no script is consulted).
bool show_form_dialog(HINSTANCE module,
                      HWND owner,
                      const std::wstring& title,
                      std::vector<form_row_t>& rows);

}  // namespace cvutrain
