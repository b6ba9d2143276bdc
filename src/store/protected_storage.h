// The user's protected storage, reached through the suite's library
// "CvoPS.dll" (the calls are in suite/include/pstore_api.h).
//
//   const pstore::CProtectedStorage& ps = pstore::protected_storage();
//   const pstore::handle_t h = ps.init();
//   serialization::secure_wstring text = ps.query(h, window);
//   ps.save(h, changed.c_str());
//   ps.commit(h);
//   ps.term(h);
//
// The library is loaded once per process from the component folder and stays
// loaded. A library that cannot be loaded raises errors::fileload_lasterror
// (and is tried again on the next use); one that lacks any of its sixteen entry
// points stays loaded and every call raises std::runtime_error
// "Unresolved functions in '<path>'". A failed HRESULT of an entry point is
// raised as support::hresult_error. Buffers returned that may hold secrets are
// copied, overwritten with zeros and only then freed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "store/component_library.h"
#include "store/portable/profile_records.h"
#include "store/portable/secure_memory.h"
#include "suite/include/pstore_api.h"
#include "support/unique_any.h"

namespace pstore {

// A session of the protected storage.
using handle_t = DWORD;

// Bytes that may hold secrets; wiped when freed.
using secret_bytes = std::vector<unsigned char, serialization::wiping_allocator<unsigned char>>;

// A profile image the agent left in the shared storage.
struct shared_profile_t {
  std::wstring template_id;
  secret_bytes image;
};

// The entry points, named as exported.
struct entry_points_t {
  CVOPSInit_fn CVOPSInit = nullptr;
  CVOPSInitWithData_fn CVOPSInitWithData = nullptr;
  CVOPSTerm_fn CVOPSTerm = nullptr;
  CVOPSQuery_fn CVOPSQuery = nullptr;
  CVOPSSave_fn CVOPSSave = nullptr;
  CVOPSCommit_fn CVOPSCommit = nullptr;
  CVOPSGetReferenceNames_fn CVOPSGetReferenceNames = nullptr;
  CVOPSGetReference_fn CVOPSGetReference = nullptr;
  CVOPSGetUserName_fn CVOPSGetUserName = nullptr;
  CVOPSBeginTransaction_fn CVOPSBeginTransaction = nullptr;
  CVOPSEndTransaction_fn CVOPSEndTransaction = nullptr;
  CVOPSWriteProfileToSharedStorage_fn CVOPSWriteProfileToSharedStorage = nullptr;
  CVOPSReadProfileFromSharedStorage_fn CVOPSReadProfileFromSharedStorage = nullptr;
  CVOPSWriteProfileToSharedStorageEx_fn CVOPSWriteProfileToSharedStorageEx = nullptr;
  CVOPSReadProfileFromSharedStorageEx_fn CVOPSReadProfileFromSharedStorageEx = nullptr;
  dll_function_brrfromps_fn dll_function_brrfromps = nullptr;
};

// The library file name, looked for in the component folder.
inline constexpr wchar_t kLibraryName[] = L"CvoPS.dll";

class CProtectedStorage : private CComponentLibrary {
 public:
  // Loads the library at `path` and resolves its entry points. Raises
  // errors::fileload_lasterror when the library cannot be loaded.
  explicit CProtectedStorage(std::wstring path);
  CProtectedStorage(const CProtectedStorage&) = delete;
  CProtectedStorage& operator=(const CProtectedStorage&) = delete;

  using CComponentLibrary::module;
  using CComponentLibrary::path;
  // True when all sixteen entry points were found.
  using CComponentLibrary::resolved;
  // The entry points; raises "Unresolved functions in '<path>'" unless all
  // were found.
  const entry_points_t& entry_points() const;

  // CVOPSInit (1, out h, 1): a read-write session of the user's store.
  handle_t init() const;
  // CVOPSTerm (h, 0); whatever goes wrong inside is swallowed.
  void term(handle_t handle) const noexcept;
  // CVOPSQuery: the user's profile text (empty when the call gave none).
  serialization::secure_wstring query(handle_t handle, HWND owner) const;
  // CVOPSSave and CVOPSCommit.
  void save(handle_t handle, const wchar_t* text) const;
  void commit(handle_t handle) const;
  // CVOPSGetReference: the value stored under the reference name. A call that
  // succeeds without a value raises E_UNEXPECTED.
  serialization::secure_wstring get_reference(handle_t handle, const wchar_t* name) const;
  // CVOPSGetUserName: the storage owner's name.
  std::wstring user_name(handle_t handle) const;
  // CVOPSReadProfileFromSharedStorage under CVOPS_PROFILE_GUID.
  shared_profile_t read_shared_profile(handle_t handle) const;
  // CVOPSWriteProfileToSharedStorageEx under CVOPS_REQUEST_ID and
  // CVOPS_PROFILE_GUID.
  void write_shared_profile(handle_t handle,
                            const wchar_t* template_id,
                            const void* bytes,
                            DWORD size) const;

 private:
  entry_points_t m_entry;
};

// Resolves reference values of profile items through one session of the
// protected storage (CVOPSGetReference); failures raise as get_reference does.
class CProtectedStorageResolver final : public serialization::reference_resolver {
 public:
  CProtectedStorageResolver(const CProtectedStorage& storage, handle_t handle) noexcept
      : m_storage(storage), m_handle(handle) {}
  serialization::secure_wstring Resolve(std::wstring_view reference_name) override;

 private:
  const CProtectedStorage& m_storage;
  handle_t m_handle;
};

// The process's library: "CvoPS.dll" of the component folder, loaded on first
// use and kept until the process ends.
const CProtectedStorage& protected_storage();

}  // namespace pstore
