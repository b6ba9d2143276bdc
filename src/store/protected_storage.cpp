#include "store/protected_storage.h"

#include <objbase.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "support/hresult.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_folders.h"
#include "templates/template_loader.h"
#include "tracing/trace.h"

namespace pstore {
namespace {

template <typename Fn>
bool resolve(HMODULE module, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  if (slot == nullptr)
    tracecore::trace_format("Unresolved function %s", name);
  return slot != nullptr;
}

// The size of a task-memory block as the task allocator reports it.
std::optional<std::size_t> block_size(void* block) noexcept {
  IMalloc* allocator = nullptr;
  if (block == nullptr || FAILED(::CoGetMalloc(1, &allocator)) || allocator == nullptr)
    return std::nullopt;
  const SIZE_T size = allocator->GetSize(block);
  allocator->Release();
  if (size == static_cast<SIZE_T>(-1))
    return std::nullopt;
  return size;
}

// One task-memory output of the library. It is freed when it goes; when it may
// hold a secret it is wiped first, also when copying it out failed.
template <typename T>
class task_output {
 public:
  explicit task_output(bool secret) noexcept : m_secret(secret) {}
  task_output(const task_output&) = delete;
  task_output& operator=(const task_output&) = delete;
  ~task_output() {
    if (m_secret)
      wipe_and_free(m_block, m_known_size);
    else
      ::CoTaskMemFree(m_block);
  }
  T** put() noexcept { return &m_block; }
  T* get() const noexcept { return m_block; }
  // What the library said it returned, in bytes.
  void set_known_size(std::size_t bytes) noexcept { m_known_size = bytes; }

 private:
  T* m_block = nullptr;
  std::size_t m_known_size = 0;
  bool m_secret;
};

// The characters of a returned string up to its terminator, never past the
// end of its block.
template <typename String>
String take_string(task_output<wchar_t>& text) {
  const wchar_t* chars = text.get();
  if (chars == nullptr)
    return String();
  const auto bytes = block_size(text.get());
  const std::size_t limit = bytes ? *bytes / sizeof(wchar_t) : static_cast<std::size_t>(-1);
  std::size_t length = 0;
  while (length < limit && chars[length] != L'\0')
    ++length;
  text.set_known_size((length + 1) * sizeof(wchar_t));
  return String(chars, length);
}

}  // namespace

CProtectedStorage::CProtectedStorage(std::wstring path) : m_path(std::move(path)) {
  tracecore::trace_scope scope("CProtectedStorage::Load");
  m_module.reset(::LoadLibraryExW(m_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!m_module) {
    tracecore::trace_lasterror(m_path.c_str());
    throw errors::fileload_lasterror(m_path);
  }
  const HMODULE module = m_module.get();
  entry_points_t& e = m_entry;
  bool all = true;
  all = resolve(module, "CVOPSInit", e.CVOPSInit) && all;
  all = resolve(module, "CVOPSInitWithData", e.CVOPSInitWithData) && all;
  all = resolve(module, "CVOPSTerm", e.CVOPSTerm) && all;
  all = resolve(module, "CVOPSQuery", e.CVOPSQuery) && all;
  all = resolve(module, "CVOPSSave", e.CVOPSSave) && all;
  all = resolve(module, "CVOPSCommit", e.CVOPSCommit) && all;
  all = resolve(module, "CVOPSGetReferenceNames", e.CVOPSGetReferenceNames) && all;
  all = resolve(module, "CVOPSGetReference", e.CVOPSGetReference) && all;
  all = resolve(module, "CVOPSGetUserName", e.CVOPSGetUserName) && all;
  all = resolve(module, "CVOPSBeginTransaction", e.CVOPSBeginTransaction) && all;
  all = resolve(module, "CVOPSEndTransaction", e.CVOPSEndTransaction) && all;
  all = resolve(module, "CVOPSWriteProfileToSharedStorage", e.CVOPSWriteProfileToSharedStorage) &&
        all;
  all = resolve(module, "CVOPSReadProfileFromSharedStorage", e.CVOPSReadProfileFromSharedStorage) &&
        all;
  all =
      resolve(module, "CVOPSWriteProfileToSharedStorageEx", e.CVOPSWriteProfileToSharedStorageEx) &&
      all;
  all = resolve(module, "CVOPSReadProfileFromSharedStorageEx",
                e.CVOPSReadProfileFromSharedStorageEx) &&
        all;
  all = resolve(module, "dll_function_brrfromps", e.dll_function_brrfromps) && all;
  m_resolved = all;
}

const entry_points_t& CProtectedStorage::entry_points() const {
  if (!m_resolved)
    throw std::runtime_error("Unresolved functions in '" + templates::wide_to_utf8(m_path) + "'");
  return m_entry;
}

handle_t CProtectedStorage::init() const {
  const entry_points_t& e = entry_points();
  DWORD handle = 0;
  THROW_IF_FAILED(e.CVOPSInit(CVOPS_VERSION, &handle, CVOPS_ACCESS_READWRITE));
  return handle;
}

void CProtectedStorage::term(handle_t handle) const noexcept {
  try {
    entry_points().CVOPSTerm(handle, CVOPS_TERM_DISCARD);
  } catch (...) {
  }
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
  // A count the block cannot hold is not read past the block's end.
  const auto capacity = block_size(bytes.get());
  if (size != 0 && (bytes.get() == nullptr || (capacity && *capacity < size)))
    THROW_HR(E_UNEXPECTED);
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

void wipe_and_free(void* block, std::size_t known_size) noexcept {
  if (block == nullptr)
    return;
  // The whole block as allocated; what the library said it returned when the
  // allocator cannot tell.
  const std::size_t size = block_size(block).value_or(known_size);
  serialization::secure_wipe(block, size);
  ::CoTaskMemFree(block);
}

}  // namespace pstore
