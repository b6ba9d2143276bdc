// Starting a logon through its quick link: find or create the link, hand the
// agent the profile to fill in, and open the link on a thread of its own.
//
//   class CListItem : public quicklinks::ILogonItem { ... };   // the logon list's item
//   quicklinks::StartQuickLink(item, storage_handle);
#pragma once

#include <windows.h>

#include <string>

#include "quicklinks/portable/quicklink_launch.h"
#include "store/portable/profile_records.h"

namespace quicklinks {

// What a launch asks of a logon item of the manage tab's list.
class ILogonItem {
 public:
  virtual ~ILogonItem() = default;
  // The list's kind of item; only 1 to 3 (logons) are launched.
  virtual int Kind() const = 0;
  // The profile (account) the item stands for; false when it can't be read.
  virtual bool GetProfile(serialization::cvprofile_t& profile) const = 0;
  virtual std::wstring TemplatePath() const = 0;
  virtual std::wstring TemplateId() const = 0;
  virtual std::wstring MenuText() const = 0;
  // Creates or updates the item's quick links in the set (through QL::add).
  virtual void CreateMyLinks(QL::set_t& links) = 0;
};

// The whole launch (trace scope "CTabManage::StartQuickLink"); `storage` is the
// page's protected-storage session. Returns once the launch thread runs (or
// earlier when there is nothing to launch); never raises.
void StartQuickLink(ILogonItem& item, DWORD storage) noexcept;

// Opens one link (trace scope "details_quicklinkcall::callshell"); the shell's
// result (above 32 on success, 2 when the command names no program file).
INT_PTR CallShell(const QL::record_t& record, int id);

// The marker setting a program link leaves for the fill-in: key
// "@QuickLinkFillin::" followed by the template id.
inline constexpr wchar_t kFillinMarkerPrefix[] = L"@QuickLinkFillin::";

}  // namespace quicklinks
