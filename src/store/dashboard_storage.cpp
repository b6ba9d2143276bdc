#include "store/dashboard_storage.h"

#include <oleauto.h>

#include <utility>

#include "support/com.h"
#include "support/hresult.h"
#include "support/unique_any.h"
#include "templates/lookup_cache.h"
#include "tracing/trace.h"

namespace dashboard {
namespace {

struct manifest_cache_t {
  support::critical_section lock;
  bool valid = false;
  std::vector<std::wstring> paths;
  manifest_lookup_fn lookup = nullptr;
};

manifest_cache_t& cache() {
  static manifest_cache_t instance;
  return instance;
}

std::vector<std::wstring> read_lookup(manifest_lookup_fn lookup) {
  std::vector<std::wstring> paths;
  if (lookup)
    lookup(paths);
  else
    templates::get_manifest_fnames_all(paths);
  return paths;
}

// Reads the list into the cache when it is not valid or a rebuild is asked
// for. Call with the cache's lock held.
void fill_cache(manifest_cache_t& c, bool rebuild) {
  if (!c.valid || rebuild) {
    c.paths = read_lookup(c.lookup);
    c.valid = true;
  }
}

manifest_lookup_fn current_lookup() {
  manifest_cache_t& c = cache();
  support::scoped_lock guard(c.lock);
  return c.lookup;
}

struct safearray_deleter {
  void operator()(SAFEARRAY* array) const noexcept { ::SafeArrayDestroy(array); }
};

}  // namespace

void set_manifest_lookup(manifest_lookup_fn lookup) noexcept {
  manifest_cache_t& c = cache();
  support::scoped_lock guard(c.lock);
  c.lookup = lookup;
  c.valid = false;
  c.paths.clear();
}

std::vector<std::wstring> GetManifestFileList(bool rebuild) {
  manifest_cache_t& c = cache();
  support::scoped_lock guard(c.lock);
  fill_cache(c, rebuild);
  return c.paths;
}

bool RefreshManifestList(HWND window) noexcept {
  tracecore::trace_scope scope("RefreshManifestList");
  try {
    // Read outside the lock: the lookup talks to the agent's shared section.
    std::vector<std::wstring> fresh = read_lookup(current_lookup());
    {
      manifest_cache_t& c = cache();
      support::scoped_lock guard(c.lock);
      if (c.valid && c.paths == fresh) {
        tracecore::trace_text("Manifest list did not change");
        return true;
      }
      c.paths = std::move(fresh);
      c.valid = true;
    }
    tracecore::trace_text("Manifest list changed");
    change_record_t change;
    ::SendMessageW(window, kMsgPageNotify, kNotifyStorageChanged,
                   reinterpret_cast<LPARAM>(&change));
    return false;
  } catch (...) {
    support::result_from_caught_exception();
    return true;
  }
}

CDashBoardStorage::CDashBoardStorage(pstore::handle_t handle)
    : m_handle(new pstore::handle_t(handle)) {}

CDashBoardStorage::~CDashBoardStorage() {
  try {
    pstore::protected_storage().term(*m_handle);  // contains the library's own faults
  } catch (...) {
  }
  delete m_handle;
}

HRESULT STDMETHODCALLTYPE CDashBoardStorage::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr)
    return E_POINTER;
  if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IDashBoardStorage)) {
    *object = static_cast<IDashBoardStorage*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CDashBoardStorage::AddRef() {
  return static_cast<ULONG>(::InterlockedIncrement(&m_refs));
}

ULONG STDMETHODCALLTYPE CDashBoardStorage::Release() {
  const LONG refs = ::InterlockedDecrement(&m_refs);
  if (refs == 0)
    delete this;
  return static_cast<ULONG>(refs);
}

HRESULT STDMETHODCALLTYPE CDashBoardStorage::GetStorageHandle(DWORD* handle) {
  if (handle == nullptr)
    return E_POINTER;
  *handle = *m_handle;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CDashBoardStorage::GetManifestList(VARIANT* list) {
  tracecore::trace_scope scope("CDashBoardStorage::GetManifestList");
  try {
    if (list == nullptr)
      THROW_HR(E_POINTER);
    // The strings are made straight from the cache, under its lock: one
    // allocation per path.
    manifest_cache_t& c = cache();
    support::scoped_lock guard(c.lock);
    fill_cache(c, false);
    if (c.paths.size() > 0x7FFFFFFF)
      THROW_HR(E_OUTOFMEMORY);
    std::unique_ptr<SAFEARRAY, safearray_deleter> array(
        ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(c.paths.size())));
    if (!array)
      THROW_HR(E_OUTOFMEMORY);
    BSTR* items = nullptr;
    THROW_IF_FAILED(::SafeArrayAccessData(array.get(), reinterpret_cast<void**>(&items)));
    bool complete = true;
    for (std::size_t i = 0; i < c.paths.size() && complete; ++i) {
      items[i] = ::SysAllocStringLen(c.paths[i].data(), static_cast<UINT>(c.paths[i].size()));
      complete = items[i] != nullptr;
    }
    ::SafeArrayUnaccessData(array.get());
    if (!complete)
      THROW_HR(E_OUTOFMEMORY);  // the array frees the strings it holds
    ::VariantInit(list);
    list->vt = VT_ARRAY | VT_BSTR;
    list->parray = array.release();
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT STDMETHODCALLTYPE CDashBoardStorage::RemoveManifest(LPCWSTR path) {
  tracecore::trace_scope scope("CDashBoardStorage::RemoveManifest");
  try {
    if (path == nullptr)
      THROW_HR(E_POINTER);
    manifest_cache_t& c = cache();
    support::scoped_lock guard(c.lock);
    if (c.valid) {
      auto& paths = c.paths;
      auto found = paths.begin();
      while (found != paths.end() && *found != path)
        ++found;
      if (found != paths.end())
        paths.erase(found);
      else
        c.valid = false;  // a list that does not know the file is stale
    }
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT OpenDashBoardStorage(IDashBoardStorage** storage) noexcept {
  tracecore::trace_scope scope("OpenDashBoardStorage");
  try {
    if (storage == nullptr)
      THROW_HR(E_POINTER);
    *storage = nullptr;
    const pstore::CProtectedStorage& ps = pstore::protected_storage();
    const pstore::handle_t handle = ps.init();
    CDashBoardStorage* object = nullptr;
    try {
      object = new CDashBoardStorage(handle);
    } catch (...) {
      ps.term(handle);
      throw;
    }
    object->AddRef();
    *storage = object;
    return S_OK;
  }
  CATCH_RETURN();
}

}  // namespace dashboard
