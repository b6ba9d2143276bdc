#include "suite/agent/fill_request.h"

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <string>

#include "store/portable/profile_records.h"
#include "suite/include/pstore_api.h"
#include "support/unique_any.h"

namespace cvagent {
namespace {

template <typename F>
F entry(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

void log_fill_request(agent_log_t& log) {
  wchar_t path[MAX_PATH];
  std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  folder.resize(folder.find_last_of(L'\\') + 1);
  const support::unique_hmodule pstore(::LoadLibraryW((folder + L"CvoPS.dll").c_str()));
  const auto init = pstore ? entry<CVOPSInit_fn>(pstore.get(), "CVOPSInit") : nullptr;
  const auto term = pstore ? entry<CVOPSTerm_fn>(pstore.get(), "CVOPSTerm") : nullptr;
  const auto read = pstore ? entry<CVOPSReadProfileFromSharedStorageEx_fn>(
                                 pstore.get(), "CVOPSReadProfileFromSharedStorageEx")
                           : nullptr;
  if (!init || !term || !read) {
    log.line("fill-in request: no CvoPS.dll");
    return;
  }
  DWORD handle = 0;
  HRESULT hr = init(CVOPS_VERSION, &handle, CVOPS_ACCESS_READ);
  if (FAILED(hr)) {
    log.line("fill-in request: CVOPSInit " + hex32(static_cast<std::uint32_t>(hr)));
    return;
  }
  LPWSTR template_id = nullptr;
  DWORD size = 0;
  BYTE* bytes = nullptr;
  hr = read(handle, CVOPS_REQUEST_ID, &CVOPS_PROFILE_GUID, &template_id, &size, &bytes);
  term(handle, CVOPS_TERM_DISCARD);
  if (FAILED(hr)) {
    log.line("fill-in request: CVOPSReadProfileFromSharedStorageEx " +
             hex32(static_cast<std::uint32_t>(hr)));
    return;
  }
  serialization::cvprofile_t request;
  const bool decoded = bytes != nullptr && serialization::LoadProfileImage(bytes, size, request);
  const std::string id = template_id ? utf8(template_id) : std::string();
  if (bytes != nullptr)
    std::memset(bytes, 0, size);
  ::CoTaskMemFree(bytes);
  ::CoTaskMemFree(template_id);
  if (!decoded) {
    log.line("fill-in request template=" + id + " not a profile image");
    return;
  }
  log.line("fill-in request template=" + id + " operation=" + std::to_string(request.operation) +
           " profileindex=" + std::to_string(request.profileindex) +
           " profilename=" + utf8(request.profilename));
}

}  // namespace cvagent
