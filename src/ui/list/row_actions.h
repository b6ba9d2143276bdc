// What the rows of the logon list do outside themselves: the account dialog of
// the training component, the question box, the row menu, the quick links of a
// logon and the agent's notice of a deleted logon.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "quicklinks/portable/quicklink_file.h"
#include "store/fillin_components.h"
#include "store/portable/profile_records.h"
#include "store/portable/secure_memory.h"
#include "templates/portable/manifest.h"
#include "ui/portable/logon_rows.h"

namespace ui {

// What an account row shows (references read through the session when there
// is one).
std::wstring AccountText(const templates::manifest_t& manifest,
                         const serialization::cvprofile_t& account,
                         DWORD storage);

// The request that asks the account dialog for a new account: the next free
// profile index of the logon.
serialization::cvprofile_t NewAccountRequest(const serialization::cvprofiles_t& accounts);

// The training component's account dialog on the logon's template: the
// resulting account, or nullopt when the user cancelled or changed nothing.
// Failures raise.
std::optional<serialization::cvprofile_t> RunAccountDialog(
    HWND owner,
    fillin::training_mode mode,
    const templates::manifest_t& manifest,
    DWORD storage,
    const serialization::secure_wstring& profile_data,
    const serialization::cvprofile_t& request);

// Traces the exception being handled as the action's failure.
void TraceCaughtFailure(const char* action) noexcept;

// A Yes/No question (MB_YESNO | MB_ICONQUESTION) with texts of the resource
// module; true for Yes.
bool AskYesNo(HINSTANCE resources, HWND owner, UINT text_id, UINT caption_id);

// Tracks the row's menu at the point (moved into the nearest monitor's work
// area when it lies on none) and returns the chosen command; 0 without menu.
UINT TrackRowMenu(HINSTANCE resources,
                  row_class row,
                  HWND owner,
                  POINT point,
                  const std::wstring& category,
                  UINT flags);

// Replaces the logon's quick links by one per account not deleted.
void RegenerateQuickLinks(const templates::manifest_t& manifest,
                          const serialization::cvprofiles_t& accounts,
                          DWORD storage,
                          QL::set_t& links);

// Tells the agent that the logon of the template is gone
// ("WM_CV_AGENT_MANIFEST"); nothing when the agent is not running.
void TellAgentLogonDeleted(const std::string& template_path);

}  // namespace ui
