#include "store/protected_storage.h"

#include <objbase.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "store/task_memory.h"
#include "support/fault_guard.h"
#include "support/hresult.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_folders.h"
#include "templates/template_loader.h"
#include "tracing/trace.h"

namespace pstore {

CProtectedStorage::CProtectedStorage(std::wstring path) : CComponentLibrary(std::move(path)) {
  tracecore::trace_scope scope("CProtectedStorage::Load");
  load();
  entry_points_t& e = m_entry;
  bool all = true;
  all = resolve_into("CVOPSInit", e.CVOPSInit) && all;
  all = resolve_into("CVOPSInitWithData", e.CVOPSInitWithData) && all;
  all = resolve_into("CVOPSTerm", e.CVOPSTerm) && all;
  all = resolve_into("CVOPSQuery", e.CVOPSQuery) && all;
  all = resolve_into("CVOPSSave", e.CVOPSSave) && all;
  all = resolve_into("CVOPSCommit", e.CVOPSCommit) && all;
  all = resolve_into("CVOPSGetReferenceNames", e.CVOPSGetReferenceNames) && all;
  all = resolve_into("CVOPSGetReference", e.CVOPSGetReference) && all;
  all = resolve_into("CVOPSGetUserName", e.CVOPSGetUserName) && all;
  all = resolve_into("CVOPSBeginTransaction", e.CVOPSBeginTransaction) && all;
  all = resolve_into("CVOPSEndTransaction", e.CVOPSEndTransaction) && all;
  all = resolve_into("CVOPSWriteProfileToSharedStorage", e.CVOPSWriteProfileToSharedStorage) && all;
  all =
      resolve_into("CVOPSReadProfileFromSharedStorage", e.CVOPSReadProfileFromSharedStorage) && all;
  all = resolve_into("CVOPSWriteProfileToSharedStorageEx", e.CVOPSWriteProfileToSharedStorageEx) &&
        all;
  all =
      resolve_into("CVOPSReadProfileFromSharedStorageEx", e.CVOPSReadProfileFromSharedStorageEx) &&
      all;
  all = resolve_into("dll_function_brrfromps", e.dll_function_brrfromps) && all;
  m_resolved = all;
}

const entry_points_t& CProtectedStorage::entry_points() const {
  check_resolved();
  return m_entry;
}

handle_t CProtectedStorage::init() const {
  const entry_points_t& e = entry_points();
  DWORD handle = 0;
  THROW_IF_FAILED(e.CVOPSInit(CVOPS_VERSION, &handle, CVOPS_ACCESS_READWRITE));
  return handle;
}

void CProtectedStorage::term(handle_t handle) const noexcept {
  // Whatever goes wrong in the library's clean-up, faults included, is swallowed.
  support::call_with_fault_guard("CVOPSTerm", [&]() -> HRESULT {
    entry_points().CVOPSTerm(handle, CVOPS_TERM_DISCARD);
    return S_OK;
  });
}

serialization::secure_wstring CProtectedStorage::query(handle_t handle, HWND owner) const {
  const entry_points_t& e = entry_points();
  task_output<wchar_t> text(true);
  THROW_IF_FAILED(e.CVOPSQuery(handle, owner, text.put()));
  return take_string<serialization::secure_wstring>(text);
}

void CProtectedStorage::save(handle_t handle, const wchar_t* text) const {
  const entry_points_t& e = entry_points();
  THROW_IF_FAILED(e.CVOPSSave(handle, text));
}

void CProtectedStorage::commit(handle_t handle) const {
  const entry_points_t& e = entry_points();
  THROW_IF_FAILED(e.CVOPSCommit(handle));
}

serialization::secure_wstring CProtectedStorage::get_reference(handle_t handle,
                                                               const wchar_t* name) const {
  const entry_points_t& e = entry_points();
  task_output<wchar_t> value(true);
  THROW_IF_FAILED(e.CVOPSGetReference(handle, name, value.put()));
  if (value.get() == nullptr)
    THROW_HR(E_UNEXPECTED);
  return take_string<serialization::secure_wstring>(value);
}

serialization::secure_wstring CProtectedStorageResolver::Resolve(std::wstring_view reference_name) {
  // The name goes to the library as a terminated string of its own.
  const serialization::secure_wstring name(reference_name);
  return m_storage.get_reference(m_handle, name.c_str());
}

std::wstring CProtectedStorage::user_name(handle_t handle) const {
  const entry_points_t& e = entry_points();
  task_output<wchar_t> name(false);
  THROW_IF_FAILED(e.CVOPSGetUserName(handle, name.put()));
  return take_string<std::wstring>(name);
}

shared_profile_t CProtectedStorage::read_shared_profile(handle_t handle) const {
  const entry_points_t& e = entry_points();
  task_output<wchar_t> template_id(false);
  task_output<BYTE> bytes(true);
  DWORD size = 0;
  THROW_IF_FAILED(e.CVOPSReadProfileFromSharedStorage(handle, &CVOPS_PROFILE_GUID,
                                                      template_id.put(), &size, bytes.put()));
  bytes.set_known_size(size);
  bytes.check_holds(size);
  shared_profile_t profile;
  profile.template_id = take_string<std::wstring>(template_id);
  if (size != 0)
    profile.image.assign(bytes.get(), bytes.get() + size);
  return profile;
}

void CProtectedStorage::write_shared_profile(handle_t handle,
                                             const wchar_t* template_id,
                                             const void* bytes,
                                             DWORD size) const {
  const entry_points_t& e = entry_points();
  THROW_IF_FAILED(e.CVOPSWriteProfileToSharedStorageEx(handle, CVOPS_REQUEST_ID,
                                                       &CVOPS_PROFILE_GUID, template_id, size,
                                                       static_cast<const BYTE*>(bytes)));
}

const CProtectedStorage& protected_storage() {
  // Never deleted: the library stays loaded until the process ends, and no
  // FreeLibrary runs while this module is being unloaded. A failed load
  // leaves the static uninitialised, so the next use tries again.
  static const CProtectedStorage* const library =
      new CProtectedStorage(templates::component_path(kLibraryName));
  return *library;
}

}  // namespace pstore
