// The suite's protected storage for one user: the profile text, named secret
// references and the shared-storage slots, kept in one file encrypted for the
// user (store_file.h). Sessions stage their changes in memory; a commit takes
// the store's named mutex, reads the file, applies the staged changes and
// replaces the file. Behaviour and layout: docs/protected-storage.md.
#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>

#include "suite/CvoPS/store_file.h"
#include "suite/common/standin_faults.h"
#include "suite/common/standin_paths.h"
#include "suite/include/pstore_api.h"
#include "support/unique_any.h"

namespace {

using cvops::secret_bytes;
using cvops::secret_wstring;
using cvops::store_content_t;
using cvops::store_file_t;
using cvops::store_lock;

constexpr wchar_t kLibrary[] = L"CvoPS";
constexpr wchar_t kDefaultStore[] = L"KVX Protected Storage";
// Test aid: a store name that replaces the default store of CVOPSInit in this
// process (and the processes it starts), so that tests never touch the
// user's real store.
constexpr wchar_t kStoreVariable[] = L"CVOPS_STANDIN_STORE";
// Shared profile images larger than this are refused.
constexpr DWORD kMaxImage = 16u * 1024 * 1024;
constexpr DWORD kFirstHandle = 0x0C5A0001;

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kNoReference = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
const HRESULT kWrongState = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

struct session_t {
  session_t(store_file_t file, bool writable, std::wstring owner)
      : file(std::move(file)), writable(writable), owner(std::move(owner)) {}

  support::critical_section lock;
  const store_file_t file;
  const bool writable;
  const std::wstring owner;
  std::optional<secret_wstring> staged_text;
  // A reference staged as nullopt is to be removed.
  std::map<std::wstring, std::optional<secret_wstring>> staged_references;
  // The store's mutex while a transaction holds it, and the thread that holds it.
  store_lock transaction;
  DWORD transaction_thread = 0;

  bool staged() const noexcept { return staged_text || !staged_references.empty(); }
  void drop_staged() noexcept {
    staged_text.reset();
    staged_references.clear();
  }
};

support::critical_section g_sessions_lock;
std::map<DWORD, std::shared_ptr<session_t>> g_sessions;
DWORD g_next_handle = kFirstHandle;

std::shared_ptr<session_t> find_session(DWORD handle) {
  support::scoped_lock<support::critical_section> guard(g_sessions_lock);
  const auto it = g_sessions.find(handle);
  return it == g_sessions.end() ? nullptr : it->second;
}

// The frame of every entry point: the exception boundary, then the injected
// stall and failure.
template <typename Body>
HRESULT entry_point(const wchar_t* name, Body&& body) noexcept {
  return standin::guarded_call([&]() -> HRESULT {
    if (const HRESULT fault = standin::injected_fault(kLibrary, name))
      return fault;
    return body();
  });
}

// An entry point on a session: E_HANDLE for a handle this process does not
// know; the body runs with the session locked.
template <typename Body>
HRESULT session_call(const wchar_t* name, DWORD handle, Body&& body) noexcept {
  return entry_point(name, [&]() -> HRESULT {
    const std::shared_ptr<session_t> session = find_session(handle);
    if (!session)
      return E_HANDLE;
    support::scoped_lock<support::critical_section> guard(session->lock);
    return body(*session);
  });
}

template <typename T>
T* task_alloc(std::size_t bytes) {
  void* block = ::CoTaskMemAlloc(std::max<std::size_t>(bytes, 1));
  if (block == nullptr)
    throw std::bad_alloc();
  return static_cast<T*>(block);
}

wchar_t* task_string(std::wstring_view text) {
  wchar_t* copy = task_alloc<wchar_t>((text.size() + 1) * sizeof(wchar_t));
  std::memcpy(copy, text.data(), text.size() * sizeof(wchar_t));
  copy[text.size()] = L'\0';
  return copy;
}

// Frees a task block of ours that may hold a secret.
void wipe_task_block(void* block, std::size_t size) noexcept {
  if (block == nullptr)
    return;
  ::SecureZeroMemory(block, size);
  ::CoTaskMemFree(block);
}

// Reads the committed store under its lock.
HRESULT read_committed(const session_t& session, store_content_t& content) {
  store_lock lock;
  if (const HRESULT hr = lock.acquire(session.file.mutex_name()); FAILED(hr))
    return hr;
  return session.file.read(content);
}

// Applies the session's staged changes to the store as it is now.
HRESULT commit_staged(session_t& session) {
  if (!session.staged())
    return S_OK;
  if (!session.writable)
    return E_ACCESSDENIED;
  store_lock lock;
  if (const HRESULT hr = lock.acquire(session.file.mutex_name()); FAILED(hr))
    return hr;
  store_content_t content;
  if (const HRESULT hr = session.file.read(content); FAILED(hr))
    return hr;
  if (session.staged_text)
    content.text = *session.staged_text;
  for (const auto& [name, value] : session.staged_references) {
    if (value)
      content.references[name] = *value;
    else
      content.references.erase(name);
  }
  ++content.generation;
  if (const HRESULT hr = session.file.write(content); FAILED(hr))
    return hr;
  session.drop_staged();
  return S_OK;
}

// Ends the session's transaction: the store's mutex goes back. Only the
// thread that began it can end it.
HRESULT end_transaction(session_t& session) {
  if (session.transaction_thread == 0)
    return kWrongState;
  if (session.transaction_thread != ::GetCurrentThreadId())
    return HRESULT_FROM_WIN32(ERROR_NOT_OWNER);
  session.transaction.release();
  session.transaction_thread = 0;
  return S_OK;
}

HRESULT open_session(DWORD version, DWORD* handle, DWORD access, const std::wstring& store) {
  if (handle == nullptr)
    return E_POINTER;
  if (version != CVOPS_VERSION || (access != CVOPS_ACCESS_READ && access != CVOPS_ACCESS_READWRITE))
    return E_INVALIDARG;
  auto file = store_file_t::open(store);
  if (!file)
    return E_INVALIDARG;
  auto session = std::make_shared<session_t>(std::move(*file), access == CVOPS_ACCESS_READWRITE,
                                             standin::current_account().value_or(L""));
  support::scoped_lock<support::critical_section> guard(g_sessions_lock);
  while (g_next_handle == 0 || g_sessions.count(g_next_handle))
    ++g_next_handle;
  const DWORD opened = g_next_handle++;
  g_sessions.emplace(opened, std::move(session));
  *handle = opened;
  return S_OK;
}

std::wstring default_store() {
  wchar_t name[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(kStoreVariable, name, MAX_PATH);
  if (length > 0 && length < MAX_PATH)
    return std::wstring(name, length);
  return kDefaultStore;
}

HRESULT write_slot(const wchar_t* name,
                   DWORD handle,
                   LPCWSTR request,
                   const GUID* profile,
                   LPCWSTR template_id,
                   DWORD size,
                   const BYTE* bytes) {
  return session_call(name, handle, [&](session_t& session) -> HRESULT {
    if (profile == nullptr || (size != 0 && bytes == nullptr))
      return E_POINTER;
    if (size > kMaxImage)
      return E_INVALIDARG;
    if (!session.writable)
      return E_ACCESSDENIED;
    store_lock lock;
    if (const HRESULT hr = lock.acquire(session.file.mutex_name()); FAILED(hr))
      return hr;
    store_content_t content;
    if (const HRESULT hr = session.file.read(content); FAILED(hr))
      return hr;
    const std::wstring key = request ? request : L"";
    auto slot = content.find_slot(key, *profile);
    if (slot == content.slots.end()) {
      content.slots.emplace_back();
      slot = std::prev(content.slots.end());
      slot->request = key;
      slot->profile = *profile;
    }
    slot->template_id = template_id ? template_id : L"";
    slot->image.assign(bytes, bytes + size);
    return session.file.write(content);
  });
}

// Hands out a slot; a read-write session takes it out of the store.
HRESULT read_slot(const wchar_t* name,
                  DWORD handle,
                  LPCWSTR request,
                  const GUID* profile,
                  LPWSTR* template_id,
                  DWORD* size,
                  BYTE** bytes) {
  return session_call(name, handle, [&](session_t& session) -> HRESULT {
    if (profile == nullptr || template_id == nullptr || size == nullptr || bytes == nullptr)
      return E_POINTER;
    *template_id = nullptr;
    *size = 0;
    *bytes = nullptr;
    store_lock lock;
    if (const HRESULT hr = lock.acquire(session.file.mutex_name()); FAILED(hr))
      return hr;
    store_content_t content;
    if (const HRESULT hr = session.file.read(content); FAILED(hr))
      return hr;
    const auto slot = content.find_slot(request ? request : L"", *profile);
    if (slot == content.slots.end())
      return kNotFound;
    const DWORD image_size = static_cast<DWORD>(slot->image.size());
    wchar_t* id = task_string(slot->template_id);
    support::scope_exit free_id([&] { ::CoTaskMemFree(id); });
    BYTE* image = task_alloc<BYTE>(image_size);
    support::scope_exit free_image([&] { wipe_task_block(image, image_size); });
    std::memcpy(image, slot->image.data(), image_size);
    if (session.writable) {
      content.slots.erase(slot);
      if (const HRESULT hr = session.file.write(content); FAILED(hr))
        return hr;
    }
    free_id.release();
    free_image.release();
    *template_id = id;
    *size = image_size;
    *bytes = image;
    return S_OK;
  });
}

}  // namespace

extern "C" HRESULT WINAPI CVOPSInit(DWORD version, DWORD* handle, DWORD access) {
  return entry_point(L"CVOPSInit",
                     [&]() { return open_session(version, handle, access, default_store()); });
}

extern "C" HRESULT WINAPI CVOPSInitWithData(DWORD version,
                                            DWORD* handle,
                                            DWORD access,
                                            LPCWSTR store) {
  return entry_point(L"CVOPSInitWithData", [&]() -> HRESULT {
    if (store == nullptr || *store == L'\0')
      return E_INVALIDARG;
    return open_session(version, handle, access, store);
  });
}

extern "C" HRESULT WINAPI CVOPSTerm(DWORD handle, DWORD flags) {
  return entry_point(L"CVOPSTerm", [&]() -> HRESULT {
    if (flags != CVOPS_TERM_DISCARD && flags != CVOPS_TERM_COMMIT)
      return E_INVALIDARG;
    std::shared_ptr<session_t> session;
    {
      support::scoped_lock<support::critical_section> guard(g_sessions_lock);
      const auto it = g_sessions.find(handle);
      if (it == g_sessions.end())
        return E_HANDLE;
      session = std::move(it->second);
      g_sessions.erase(it);
    }
    support::scoped_lock<support::critical_section> guard(session->lock);
    const HRESULT hr = flags == CVOPS_TERM_COMMIT ? commit_staged(*session) : S_OK;
    // A transaction still open ends here; from another thread its mutex is
    // left to be abandoned when that thread ends.
    if (session->transaction_thread != 0)
      end_transaction(*session);
    session->drop_staged();
    return hr;
  });
}

extern "C" HRESULT WINAPI CVOPSQuery(DWORD handle, HWND owner, LPWSTR* text) {
  // The stand-in never prompts, so the owner window is not used.
  return session_call(L"CVOPSQuery", handle, [&](session_t& session) -> HRESULT {
    if (text == nullptr)
      return E_POINTER;
    *text = nullptr;
    if (session.staged_text) {
      *text = task_string(*session.staged_text);
      return S_OK;
    }
    store_content_t content;
    if (const HRESULT hr = read_committed(session, content); FAILED(hr))
      return hr;
    *text = task_string(content.text);
    return S_OK;
  });
}

extern "C" HRESULT WINAPI CVOPSSave(DWORD handle, LPCWSTR text) {
  return session_call(L"CVOPSSave", handle, [&](session_t& session) -> HRESULT {
    if (text == nullptr)
      return E_POINTER;
    if (!session.writable)
      return E_ACCESSDENIED;
    session.staged_text.emplace(text);
    return S_OK;
  });
}

extern "C" HRESULT WINAPI CVOPSCommit(DWORD handle) {
  return session_call(L"CVOPSCommit", handle,
                      [&](session_t& session) { return commit_staged(session); });
}

extern "C" HRESULT WINAPI CVOPSGetReferenceNames(DWORD handle, LPWSTR* names) {
  return session_call(L"CVOPSGetReferenceNames", handle, [&](session_t& session) -> HRESULT {
    if (names == nullptr)
      return E_POINTER;
    *names = nullptr;
    store_content_t content;
    if (const HRESULT hr = read_committed(session, content); FAILED(hr))
      return hr;
    std::map<std::wstring, bool> visible;
    for (const auto& reference : content.references)
      visible[reference.first] = true;
    for (const auto& [name, value] : session.staged_references)
      visible[name] = value.has_value();
    std::wstring list;
    for (const auto& [name, present] : visible) {
      if (present) {
        list += name;
        list += L'\0';
      }
    }
    // task_string adds the zero that ends the list; an empty list is two zeros.
    if (list.empty())
      list += L'\0';
    *names = task_string(list);
    return S_OK;
  });
}

extern "C" HRESULT WINAPI CVOPSGetReference(DWORD handle, LPCWSTR name, LPWSTR* value) {
  return session_call(L"CVOPSGetReference", handle, [&](session_t& session) -> HRESULT {
    if (value == nullptr)
      return E_POINTER;
    *value = nullptr;
    if (name == nullptr || *name == L'\0')
      return E_INVALIDARG;
    if (const auto staged = session.staged_references.find(name);
        staged != session.staged_references.end()) {
      if (!staged->second)
        return kNoReference;
      *value = task_string(*staged->second);
      return S_OK;
    }
    store_content_t content;
    if (const HRESULT hr = read_committed(session, content); FAILED(hr))
      return hr;
    const auto found = content.references.find(name);
    if (found == content.references.end())
      return kNoReference;
    *value = task_string(found->second);
    return S_OK;
  });
}

extern "C" HRESULT WINAPI CVOPSSetReference(DWORD handle, LPCWSTR name, LPCWSTR value) {
  return session_call(L"CVOPSSetReference", handle, [&](session_t& session) -> HRESULT {
    if (name == nullptr || *name == L'\0')
      return E_INVALIDARG;
    if (!session.writable)
      return E_ACCESSDENIED;
    auto& staged = session.staged_references[name];
    if (value)
      staged.emplace(value);
    else
      staged.reset();
    return S_OK;
  });
}

extern "C" HRESULT WINAPI CVOPSGetUserName(DWORD handle, LPWSTR* name) {
  return session_call(L"CVOPSGetUserName", handle, [&](session_t& session) -> HRESULT {
    if (name == nullptr)
      return E_POINTER;
    *name = nullptr;
    if (session.owner.empty())
      return HRESULT_FROM_WIN32(ERROR_NONE_MAPPED);
    *name = task_string(session.owner);
    return S_OK;
  });
}

extern "C" HRESULT WINAPI CVOPSBeginTransaction(DWORD handle) {
  return session_call(L"CVOPSBeginTransaction", handle, [&](session_t& session) -> HRESULT {
    if (session.transaction_thread != 0)
      return kWrongState;
    if (const HRESULT hr = session.transaction.acquire(session.file.mutex_name()); FAILED(hr))
      return hr;
    session.transaction_thread = ::GetCurrentThreadId();
    return S_OK;
  });
}

extern "C" HRESULT WINAPI CVOPSEndTransaction(DWORD handle, DWORD how) {
  return session_call(L"CVOPSEndTransaction", handle, [&](session_t& session) -> HRESULT {
    if (how != CVOPS_END_COMMIT && how != CVOPS_END_ROLLBACK)
      return E_INVALIDARG;
    if (session.transaction_thread == 0)
      return kWrongState;
    if (session.transaction_thread != ::GetCurrentThreadId())
      return HRESULT_FROM_WIN32(ERROR_NOT_OWNER);
    // The commit runs while the transaction still holds the store; a failed
    // commit keeps the staged changes for another try.
    HRESULT hr = S_OK;
    if (how == CVOPS_END_COMMIT)
      hr = commit_staged(session);
    else
      session.drop_staged();
    end_transaction(session);
    return hr;
  });
}

extern "C" HRESULT WINAPI CVOPSWriteProfileToSharedStorage(DWORD handle,
                                                           const GUID* profile,
                                                           LPCWSTR template_id,
                                                           DWORD size,
                                                           const BYTE* bytes) {
  return write_slot(L"CVOPSWriteProfileToSharedStorage", handle, nullptr, profile, template_id,
                    size, bytes);
}

extern "C" HRESULT WINAPI CVOPSReadProfileFromSharedStorage(DWORD handle,
                                                            const GUID* profile,
                                                            LPWSTR* template_id,
                                                            DWORD* size,
                                                            BYTE** bytes) {
  return read_slot(L"CVOPSReadProfileFromSharedStorage", handle, nullptr, profile, template_id,
                   size, bytes);
}

extern "C" HRESULT WINAPI CVOPSWriteProfileToSharedStorageEx(DWORD handle,
                                                             LPCWSTR request,
                                                             const GUID* profile,
                                                             LPCWSTR template_id,
                                                             DWORD size,
                                                             const BYTE* bytes) {
  return write_slot(L"CVOPSWriteProfileToSharedStorageEx", handle, request, profile, template_id,
                    size, bytes);
}

extern "C" HRESULT WINAPI CVOPSReadProfileFromSharedStorageEx(DWORD handle,
                                                              LPCWSTR request,
                                                              const GUID* profile,
                                                              LPWSTR* template_id,
                                                              DWORD* size,
                                                              BYTE** bytes) {
  return read_slot(L"CVOPSReadProfileFromSharedStorageEx", handle, request, profile, template_id,
                   size, bytes);
}

// The stand-in shows no prompt: the user always agrees. An injected
// "Fail_dll_function_brrfromps" of 1 answers S_FALSE, a refusal.
extern "C" HRESULT WINAPI dll_function_brrfromps(HWND owner) {
  return entry_point(L"dll_function_brrfromps", []() -> HRESULT { return S_OK; });
}

static_assert(std::is_same_v<decltype(&CVOPSInit), CVOPSInit_fn>);
static_assert(std::is_same_v<decltype(&CVOPSInitWithData), CVOPSInitWithData_fn>);
static_assert(std::is_same_v<decltype(&CVOPSTerm), CVOPSTerm_fn>);
static_assert(std::is_same_v<decltype(&CVOPSQuery), CVOPSQuery_fn>);
static_assert(std::is_same_v<decltype(&CVOPSSave), CVOPSSave_fn>);
static_assert(std::is_same_v<decltype(&CVOPSCommit), CVOPSCommit_fn>);
static_assert(std::is_same_v<decltype(&CVOPSGetReferenceNames), CVOPSGetReferenceNames_fn>);
static_assert(std::is_same_v<decltype(&CVOPSGetReference), CVOPSGetReference_fn>);
static_assert(std::is_same_v<decltype(&CVOPSSetReference), CVOPSSetReference_fn>);
static_assert(std::is_same_v<decltype(&CVOPSGetUserName), CVOPSGetUserName_fn>);
static_assert(std::is_same_v<decltype(&CVOPSBeginTransaction), CVOPSBeginTransaction_fn>);
static_assert(std::is_same_v<decltype(&CVOPSEndTransaction), CVOPSEndTransaction_fn>);
static_assert(std::is_same_v<decltype(&CVOPSWriteProfileToSharedStorage),
                             CVOPSWriteProfileToSharedStorage_fn>);
static_assert(std::is_same_v<decltype(&CVOPSReadProfileFromSharedStorage),
                             CVOPSReadProfileFromSharedStorage_fn>);
static_assert(std::is_same_v<decltype(&CVOPSWriteProfileToSharedStorageEx),
                             CVOPSWriteProfileToSharedStorageEx_fn>);
static_assert(std::is_same_v<decltype(&CVOPSReadProfileFromSharedStorageEx),
                             CVOPSReadProfileFromSharedStorageEx_fn>);
static_assert(std::is_same_v<decltype(&dll_function_brrfromps), dll_function_brrfromps_fn>);
