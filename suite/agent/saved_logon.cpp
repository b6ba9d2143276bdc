#include "suite/agent/saved_logon.h"

#include <cstdio>

#include "agent/portable/channel_layout.h"
#include "store/portable/memory_block.h"
#include "store/portable/profile_records.h"
#include "suite/common/standin_time.h"
#include "suite/include/pstore_api.h"
#include "support/unique_any.h"

namespace cvagent {
namespace {

std::wstring exe_folder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

template <typename F>
F entry(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

serialization::cvprofile_t profile_record(const saved_logon_t& logon) {
  serialization::cvprofile_t record;
  record.operation = 1;
  record.profileindex = logon.profile_index;
  record.profilename = logon.profile_name;
  record.formindex = logon.form_index;
  record.updatedate = standin::update_date_text(logon.age_days);
  std::int32_t memory_id = 0;
  for (const auto& entry : logon.items) {
    serialization::cvprofileitem_t item;
    item.value_op = 1;
    item.dbname = entry.dbname;
    item.displayname = entry.display_name;
    item.value = serialization::secure_wstring(entry.value);
    item.memid = memory_id++;
    record.items.push_back(std::move(item));
  }
  return record;
}

}  // namespace

HRESULT act_out_saved_logon(const saved_logon_t& logon, agent_log_t& log) {
  const support::unique_hmodule pstore(::LoadLibraryW((exe_folder() + L"CvoPS.dll").c_str()));
  if (!pstore) {
    log.line("save-logon: no CvoPS.dll");
    return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  }
  const auto init = entry<CVOPSInit_fn>(pstore.get(), "CVOPSInit");
  const auto term = entry<CVOPSTerm_fn>(pstore.get(), "CVOPSTerm");
  const auto write = entry<CVOPSWriteProfileToSharedStorageEx_fn>(
      pstore.get(), "CVOPSWriteProfileToSharedStorageEx");
  if (!init || !term || !write) {
    log.line("save-logon: CvoPS.dll lacks an entry point");
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }

  serialization::memoryblock_T<serialization::aloocator_cpp> image;
  try {
    serialization::SaveProfileImage(profile_record(logon), image);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  DWORD handle = 0;
  HRESULT hr = init(CVOPS_VERSION, &handle, CVOPS_ACCESS_READWRITE);
  if (FAILED(hr)) {
    log.line("save-logon: CVOPSInit " + hex32(static_cast<std::uint32_t>(hr)));
    return hr;
  }
  // The slot without a request identifier: the one the dashboard reads.
  hr = write(handle, L"", &CVOPS_PROFILE_GUID, logon.template_id.c_str(), image.size(),
             image.data());
  term(handle, CVOPS_TERM_DISCARD);
  log.line("save-logon template=" + utf8(logon.template_id) +
           " profile=" + utf8(logon.profile_name) + " bytes=" + std::to_string(image.size()) +
           " result=" + hex32(static_cast<std::uint32_t>(hr)));
  if (FAILED(hr))
    return hr;

  return broadcast_registered(agent::kMsgPStorageUpdated, log);
}

HRESULT broadcast_registered(const std::wstring& name, agent_log_t& log) {
  DWORD recipients = BSM_APPLICATIONS | BSM_ALLDESKTOPS;
  const UINT message = ::RegisterWindowMessageW(name.c_str());
  const long sent = ::BroadcastSystemMessageW(BSF_POSTMESSAGE | BSF_FORCEIFHUNG, &recipients,
                                              message, 0, ::GetCurrentProcessId());
  log.line(sent > 0 ? "broadcast " + utf8(name) : "broadcast failed");
  return sent > 0 ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

HRESULT post_local_data_changed(agent_log_t& log) {
  const HWND window = ::FindWindowW(L"CV_LocalAgentDS", nullptr);
  if (window == nullptr) {
    log.line("no window CV_LocalAgentDS");
    return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
  }
  if (!::PostMessageW(window, WM_USER + 303, 0, 0))
    return HRESULT_FROM_WIN32(::GetLastError());
  log.line("posted WM_USER+303 to " +
           hex32(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window))));
  return S_OK;
}

}  // namespace cvagent
