#include "quicklinks/quicklink_launch.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <memory>

#include "agent/agent_link.h"
#include "plugin/module.h"
#include "plugin/settings.h"
#include "quicklinks/quicklink_store.h"
#include "store/protected_storage.h"
#include "support/hresult.h"
#include "templates/portable/manifest_text.h"
#include "tracing/trace.h"
#include "tracing/tracer.h"

namespace quicklinks {
namespace {

using templates::utf8_to_wide;
using templates::wide_to_utf8;

constexpr UINT kLaunchMessage = WM_USER + 1;

struct launch_request_t {
  QL::record_t record;
  int id = 0;
};

std::wstring browser_for_http() {
  wchar_t browser[MAX_PATH] = L"";
  DWORD size = MAX_PATH;
  if (FAILED(::AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_EXECUTABLE, L"http", L"open", browser,
                                 &size)))
    return std::wstring();
  return browser;
}

DWORD WINAPI launch_thread(void* parameter) {
  const std::unique_ptr<launch_request_t> request(static_cast<launch_request_t*>(parameter));
  try {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MSG msg;
    ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue
    ::PostThreadMessageW(::GetCurrentThreadId(), kLaunchMessage, 0, 0);
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == nullptr && msg.message == kLaunchMessage) {
        CallShell(request->record, request->id);
        ::PostQuitMessage(0);
        continue;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (SUCCEEDED(com))
      ::CoUninitialize();
  } catch (...) {
    tracecore::trace_text("launch thread: exception");
  }
  return 0;
}

// The link of the item: by its menu text, else by its profile (the links a row
// creates are named after the logon and the account, not the row's text).
const QL::record_t* find_link(const QL::set_t& links,
                              const std::string& path,
                              const std::string& menu_text,
                              int profile) {
  const QL::record_t* found =
      QL::find_by_title_and_name(links, path, menu_text, QL::system_environment());
  if (found == nullptr)
    found = QL::find_by_title_and_profile(links, path, profile);
  return found;
}

// Resolves every reference value of the profile; raises when one can't be had.
void resolve_references(const serialization::cvprofile_t& profile, DWORD storage) {
  const pstore::CProtectedStorage& library = pstore::protected_storage();
  pstore::CProtectedStorageResolver resolver(library, storage);
  for (const serialization::cvprofileitem_t& item : profile.items) {
    if (serialization::IsReference(item.value.view()))
      serialization::secure_wstring value = serialization::ResolveValue(item, resolver);
  }
}

void tell_agent(const serialization::cvprofile_t& profile,
                const QL::record_t& record,
                DWORD storage) {
  serialization::cvprofile_t request;
  request.operation = 1;
  request.profileindex = record.profile;
  request.profilename = profile.profilename;
  serialization::CMemoryObjectEx image;
  if (serialization::SaveProfileImage(request, image) == 0) {
    tracecore::trace_text("cannot encode the fill-in request");
    return;
  }
  try {
    pstore::protected_storage().write_shared_profile(
        storage, utf8_to_wide(record.manifestid).c_str(), image.data(), image.size());
  } catch (const support::hresult_error& e) {
    tracecore::trace_error("CVOPSWriteProfileToSharedStorageEx", e.code());
    return;
  }
  if (HWND agent = agent::FindAgentWindow()) {
    const agent::call_block_t block{static_cast<std::uint32_t>(::GetCurrentProcessId()), 0,
                                    agent::window_value(agent),
                                    ::RegisterWindowMessageW(agent::kMsgPStorageCallUpdated)};
    agent::CallAgent(agent::kNipcChannel, block);
  }
}

}  // namespace

void StartQuickLink(ILogonItem& item, DWORD storage) noexcept {
  tracecore::trace_scope scope("CTabManage::StartQuickLink");
  try {
    const int kind = item.Kind();
    if (kind < 1 || kind > 3)
      return;
    serialization::cvprofile_t profile;
    if (!item.GetProfile(profile)) {
      tracecore::trace_text("no profile");
      return;
    }
    QL::set_t links;
    QL::load(links);
    QL::number_for_launch(links);
    const std::string path = wide_to_utf8(item.TemplatePath());
    const std::string menu_text = wide_to_utf8(item.MenuText());
    const QL::record_t* found = find_link(links, path, menu_text, profile.profileindex);
    if (found == nullptr) {
      item.CreateMyLinks(links);
      QL::save_if_modified(links);
      QL::load(links);
      QL::number_for_launch(links);
      found = find_link(links, path, menu_text, profile.profileindex);
      if (found == nullptr) {
        tracecore::trace_text("no quick link");
        return;
      }
    }
    try {
      resolve_references(profile, storage);
    } catch (...) {
      tracecore::trace_text("reference not resolved: launch abandoned");
      return;
    }
    tell_agent(profile, *found, storage);
    auto request = std::make_unique<launch_request_t>(launch_request_t{*found, found->index});
    const HANDLE thread = ::CreateThread(nullptr, 0, launch_thread, request.get(), 0, nullptr);
    if (thread == nullptr) {
      tracecore::trace_lasterror("CreateThread");
      return;
    }
    request.release();  // the thread owns it now
    ::CloseHandle(thread);
  } catch (...) {
    support::result_from_caught_exception();
  }
}

INT_PTR CallShell(const QL::record_t& record, int id) {
  tracecore::trace_scope scope("details_quicklinkcall::callshell");
  INT_PTR result = 0;
  if (record.type == QL::type_url) {
    const std::wstring browser = browser_for_http();
    const std::wstring address =
        QL::loading_page_address(QL::scheme_for_browser(browser),
                                 tracecore::module_long_path(plugin::module().instance()), id);
    tracecore::trace_format("open %ls with '%ls'", address.c_str(), browser.c_str());
    result = reinterpret_cast<INT_PTR>(
        browser.empty()
            ? ::ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL)
            : ::ShellExecuteW(nullptr, L"open", browser.c_str(), address.c_str(), nullptr,
                              SW_SHOWNORMAL));
  } else {
    const auto [program, arguments] = QL::split_command(record.dlgpath);
    const std::wstring wide_program = utf8_to_wide(program);
    const std::size_t at = wide_program.find_last_of(L"\\/:");
    const std::wstring folder = at == std::wstring::npos ? L"" : wide_program.substr(0, at + 1);
    const std::wstring file = at == std::wstring::npos ? wide_program : wide_program.substr(at + 1);
    if (file.empty() || folder.empty()) {
      result = 2;
    } else {
      if (!record.manifestid.empty()) {
        plugin::write_setting((kFillinMarkerPrefix + utf8_to_wide(record.manifestid)).c_str(),
                              std::to_wstring(record.profile));
      }
      const std::wstring wide_arguments = utf8_to_wide(arguments);
      result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
          nullptr, L"open", file.c_str(), wide_arguments.empty() ? nullptr : wide_arguments.c_str(),
          folder.c_str(), SW_SHOWNORMAL));
    }
  }
  if (result <= 32)
    tracecore::trace_format("details_quicklinkcall::callshell: failed = %d",
                            static_cast<int>(result));
  else
    tracecore::trace_format("details_quicklinkcall::callshell: itemID = %d", id);
  return result;
}

}  // namespace quicklinks
