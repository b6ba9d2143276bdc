// The dashboard's access to the user's protected-storage session and to the
// list of logon template files, and the two refreshes the notification window
// runs when the agent reports a change.
//
//   support::com_ptr<IDashBoardStorage> storage;
//   THROW_IF_FAILED(dashboard::OpenDashBoardStorage(storage.put()));   // CVOPSInit
//   support::unique_variant list;
//   storage->GetManifestList(list.get());          // VT_ARRAY | VT_BSTR, cached
//   ...
//   storage.reset();                               // CVOPSTerm on the last Release
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "store/protected_storage.h"

// {703C6CB1-8823-44B2-B7EA-F08D47ECD3DF}
inline constexpr IID IID_IDashBoardStorage = {0x703C6CB1,
                                              0x8823,
                                              0x44B2,
                                              {0xB7, 0xEA, 0xF0, 0x8D, 0x47, 0xEC, 0xD3, 0xDF}};

struct IDashBoardStorage : public IUnknown {
  // The protected-storage session; E_POINTER for a null pointer.
  virtual HRESULT STDMETHODCALLTYPE GetStorageHandle(DWORD* handle) = 0;
  // The template files as VT_ARRAY | VT_BSTR, in the lookup's order.
  virtual HRESULT STDMETHODCALLTYPE GetManifestList(VARIANT* list) = 0;
  // Forgets a template file; an unknown path makes the next use re-read the list.
  virtual HRESULT STDMETHODCALLTYPE RemoveManifest(LPCWSTR path) = 0;
};

namespace dashboard {

// What the pages are told with WM_USER + 108 and code 2001: which logon
// changed (both null: look at all of them again). The size field holds the
// record's size, so a 32-bit build's record has its fixed 12 bytes.
struct change_record_t {
  DWORD cbSize = sizeof(change_record_t);
  const wchar_t* path = nullptr;
  const wchar_t* profile = nullptr;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(change_record_t) == 12, "the 32-bit record has a fixed layout");
#endif

inline constexpr UINT kMsgPageNotify = WM_USER + 108;
inline constexpr WPARAM kNotifyStorageChanged = 2001;

class CDashBoardStorage final : public IDashBoardStorage {
 public:
  // Starts with no reference; the first AddRef is the creator's.
  explicit CDashBoardStorage(pstore::handle_t handle);
  CDashBoardStorage(const CDashBoardStorage&) = delete;
  CDashBoardStorage& operator=(const CDashBoardStorage&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetStorageHandle(DWORD* handle) override;
  HRESULT STDMETHODCALLTYPE GetManifestList(VARIANT* list) override;
  HRESULT STDMETHODCALLTYPE RemoveManifest(LPCWSTR path) override;

 private:
  ~CDashBoardStorage();  // CVOPSTerm (handle, 0), any fault inside contained
  volatile LONG m_refs = 0;
  pstore::handle_t* m_handle;  // a heap cell, as the session is handed around by address
};

// CVOPSInit, then a storage object over the new session (one reference, the
// caller's). The failing HRESULT otherwise; nothing is left open then.
HRESULT OpenDashBoardStorage(IDashBoardStorage** storage) noexcept;

// The process's template list cache, shared by the UI thread and the rating
// work items; every caller works on a copy.
//
// Where the list comes from: templates::get_manifest_fnames_all unless a test
// or benchmark put another source in (null puts the lookup back). The cache is
// marked invalid on every change of source.
using manifest_lookup_fn = void (*)(std::vector<std::wstring>& paths);
void set_manifest_lookup(manifest_lookup_fn lookup) noexcept;

// A copy of the list, read from the lookup first when the cache is not valid
// or `rebuild` is asked for. A lookup failure raises and leaves the cache.
std::vector<std::wstring> GetManifestFileList(bool rebuild);

// Re-reads the list; when it differs from a valid cache (or the cache was not
// valid) stores it and sends `window` WM_USER + 108 (2001) with an empty change
// record. True when the list did not change. A lookup failure is traced and
// keeps the cache (true then too). Never throws.
bool RefreshManifestList(HWND window) noexcept;

// Takes over the profile the agent left in the shared storage: merges it into
// the stored profiles of its template, saves and commits them, and tells
// `window` which logon changed. 0x80070002 when the agent left nothing;
// E_UNEXPECTED when no template has the profile's template id.
HRESULT RefreshProfileFromGlobal(HWND window, IDashBoardStorage* storage) noexcept;

}  // namespace dashboard
