#include "ui/list/row_actions.h"

#include <algorithm>
#include <array>
#include <exception>
#include <stdexcept>

#include "agent/agent_link.h"
#include "agent/notification_window.h"
#include "quicklinks/quicklink_store.h"
#include "store/protected_storage.h"
#include "support/dialog_base.h"
#include "support/hresult.h"
#include "templates/portable/manifest_text.h"
#include "tracing/trace.h"
#include "ui/list/list_items.h"

namespace ui {
namespace {

constexpr std::int32_t kOperationNew = 1;
constexpr std::int32_t kOperationDeleted = 2;

std::wstring load_text(HINSTANCE resources, UINT id) {
  std::wstring text = support::resource_string(resources, id);
  if (text.empty())
    tracecore::trace_format("no string %u", id);
  return text;
}

// Account values that are references are read through the caller's
// protected-storage session; without one, or when that fails, the account row
// falls back to the profile's name.
class account_value_resolver final : public serialization::reference_resolver {
 public:
  explicit account_value_resolver(DWORD storage) : m_storage(storage) {}
  serialization::secure_wstring Resolve(std::wstring_view name) override {
    if (m_storage == 0)
      return {};
    try {
      return pstore::CProtectedStorageResolver(pstore::protected_storage(), m_storage)
          .Resolve(name);
    } catch (...) {
      TraceCaughtFailure("Resolve");
      return {};
    }
  }

 private:
  DWORD m_storage;
};

}  // namespace

std::wstring AccountText(const templates::manifest_t& manifest,
                         const serialization::cvprofile_t& account,
                         DWORD storage) {
  account_value_resolver resolver(storage);
  return account_text(manifest, account, resolver);
}

serialization::cvprofile_t NewAccountRequest(const serialization::cvprofiles_t& accounts) {
  serialization::cvprofile_t request;
  request.operation = kOperationNew;
  request.formindex = 0;
  request.profileindex = 0;
  for (const auto& account : accounts)
    request.profileindex = std::max(request.profileindex, account.profileindex + 1);
  return request;
}

std::optional<serialization::cvprofile_t> RunAccountDialog(
    HWND owner,
    fillin::training_mode mode,
    const templates::manifest_t& manifest,
    DWORD storage,
    const serialization::secure_wstring& profile_data,
    const serialization::cvprofile_t& request) {
  const std::wstring id = templates::utf8_to_wide(manifest.descriptor.id);
  return fillin::training_component().modify_profile(owner, mode, manifest.path_key(), id.c_str(),
                                                     storage, profile_data.c_str(), request);
}

void TraceCaughtFailure(const char* action) noexcept {
  try {
    throw;
  } catch (const support::hresult_error& e) {
    tracecore::trace_error(action, e.code());
  } catch (const std::bad_alloc&) {
    tracecore::trace_error(action, E_OUTOFMEMORY);
  } catch (const std::exception& e) {
    tracecore::trace_format("%s failed: %s", action, e.what());
  } catch (...) {
    tracecore::trace_error(action, E_UNEXPECTED);
  }
}

bool AskYesNo(HINSTANCE resources, HWND owner, UINT text_id, UINT caption_id) {
  const std::wstring text = load_text(resources, text_id);
  const std::wstring caption = load_text(resources, caption_id);
  const int answer =
      ::MessageBoxW(owner, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION);
  tracecore::trace_format("answer = %d", answer);
  return answer == IDYES;
}

unique_hmenu BuildRowMenu(HINSTANCE resources, row_class row, bool category_shown) {
  unique_hmenu bar(::LoadMenuW(resources, MAKEINTRESOURCEW(kIdrRowMenu)));
  if (!bar) {
    tracecore::trace_lasterror("LoadMenu");
    return {};
  }
  const HMENU popup = ::GetSubMenu(bar.get(), 0);
  // Detached from the bar, the submenu outlives it and is ours to destroy.
  if (popup == nullptr || !::RemoveMenu(bar.get(), 0, MF_BYPOSITION))
    return {};
  unique_hmenu menu(popup);
  const std::vector<std::uint32_t> keep = menu_commands(row, category_shown);
  for (const UINT command :
       {cmd_open_quicklink, cmd_add_account, cmd_edit, cmd_delete, cmd_remove_from_category}) {
    if (std::find(keep.begin(), keep.end(), command) == keep.end())
      ::DeleteMenu(menu.get(), command, MF_BYCOMMAND);
  }
  if (const UINT command = default_command(row))
    ::SetMenuDefaultItem(menu.get(), command, FALSE);
  return menu;
}

UINT TrackRowMenu(HINSTANCE resources,
                  row_class row,
                  HWND owner,
                  POINT point,
                  const std::wstring& category,
                  UINT flags) {
  const unique_hmenu menu = BuildRowMenu(resources, row, !category.empty());
  if (!menu)
    return 0;
  const bool on_monitor = ::MonitorFromPoint(point, MONITOR_DEFAULTTONULL) != nullptr;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (!on_monitor &&
      ::GetMonitorInfoW(::MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const point_t moved =
        clamp_menu_point({point.x, point.y}, false, monitor.rcWork.left, monitor.rcWork.right);
    point.x = moved.x;
  }
  return static_cast<UINT>(
      ::TrackPopupMenu(menu.get(), flags, point.x, point.y, 0, owner, nullptr));
}

void RegenerateQuickLinks(const templates::manifest_t& manifest,
                          const serialization::cvprofiles_t& accounts,
                          DWORD storage,
                          QL::set_t& links) {
  const templates::form_t* form = manifest.forms.empty() ? nullptr : &manifest.forms.front();
  const std::wstring logon = form ? templates::utf8_to_wide(form->options.choosename) : L"";
  const std::wstring target = form ? templates::utf8_to_wide(form->detection.web_qurl) : L"";
  const std::wstring id = templates::utf8_to_wide(manifest.descriptor.id);
  const std::wstring path = templates::utf8_to_wide(manifest.path);

  std::vector<std::wstring> texts;
  texts.reserve(accounts.size());
  for (const auto& account : accounts)
    texts.push_back(AccountText(manifest, account, storage));
  const std::vector<std::wstring> names = quicklink_names(logon, texts);

  QL::del(links, path);
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    if (accounts[i].operation == kOperationDeleted || names[i].empty())
      continue;
    QL::add(links, target, names[i], accounts[i].profileindex, id, path);
    tracecore::trace_format("Added qlink, name = %ls", names[i].c_str());
  }
}

void TellAgentLogonDeleted(const std::string& template_path) {
  if (const HWND agent = agent::FindAgentWindow())
    agent::SendToAgent(template_path, "", agent, agent::RegisteredMessages().agent_manifest);
}

}  // namespace ui
