#include "store/fillin_components.h"

#include <objbase.h>

#include <stdexcept>
#include <type_traits>

#include "store/portable/memory_block.h"
#include "store/protected_storage.h"
#include "support/hresult.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_folders.h"
#include "templates/template_loader.h"
#include "tracing/trace.h"

namespace fillin {
namespace {

using serialization::cvprofile_t;
using serialization::cvprofiles_t;

const HRESULT kNotAnImage = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// The size of a task-memory block as the task allocator reports it.
std::optional<std::size_t> block_size(const void* block) noexcept {
  IMalloc* allocator = nullptr;
  if (block == nullptr || FAILED(::CoGetMalloc(1, &allocator)) || allocator == nullptr)
    return std::nullopt;
  const SIZE_T size = allocator->GetSize(const_cast<void*>(block));
  allocator->Release();
  if (size == static_cast<SIZE_T>(-1))
    return std::nullopt;
  return size;
}

// A task-memory output of a component. Every one may hold secrets (profile
// values, profile texts): it is wiped over its whole size and freed when it
// goes, also when reading it failed.
template <typename T>
class secret_output {
 public:
  secret_output() noexcept = default;
  secret_output(const secret_output&) = delete;
  secret_output& operator=(const secret_output&) = delete;
  ~secret_output() { pstore::wipe_and_free(m_block, m_known_size); }
  T** put() noexcept { return &m_block; }
  T* get() const noexcept { return m_block; }
  // What the component said it returned, in bytes.
  void set_known_size(std::size_t bytes) noexcept { m_known_size = bytes; }
  // Raises E_UNEXPECTED when the block cannot hold `bytes`.
  void check_holds(std::size_t bytes) const {
    const auto capacity = block_size(m_block);
    if (bytes != 0 && (m_block == nullptr || (capacity && *capacity < bytes)))
      THROW_HR(E_UNEXPECTED);
  }

 private:
  T* m_block = nullptr;
  std::size_t m_known_size = 0;
};

// A returned string up to its terminator, never past the end of its block.
serialization::secure_wstring take_string(secret_output<wchar_t>& text) {
  const wchar_t* chars = text.get();
  const auto bytes = block_size(chars);
  const std::size_t limit = bytes ? *bytes / sizeof(wchar_t) : static_cast<std::size_t>(-1);
  std::size_t length = 0;
  while (length < limit && chars[length] != L'\0')
    ++length;
  text.set_known_size((length + 1) * sizeof(wchar_t));
  return serialization::secure_wstring(chars, length);
}

// Raises a failed result of an entry point as a COM error, traced with the
// entry point's name.
void check(HRESULT hr, const char* entry_point) {
  if (FAILED(hr)) {
    tracecore::trace_error(entry_point, hr);
    support::throw_hresult(hr, entry_point);
  }
}

}  // namespace

void CComponentLibrary::load() {
  m_module.reset(::LoadLibraryExW(m_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!m_module) {
    tracecore::trace_lasterror(m_path.c_str());
    throw errors::fileload_lasterror(m_path);
  }
}

FARPROC CComponentLibrary::resolve(const char* name) const noexcept {
  const FARPROC entry = ::GetProcAddress(m_module.get(), name);
  if (entry == nullptr)
    tracecore::trace_format("Unresolved function %s", name);
  return entry;
}

void CComponentLibrary::check_resolved() const {
  if (!m_resolved)
    throw std::runtime_error("Unresolved functions in '" + templates::wide_to_utf8(m_path) + "'");
}

// --- CFillinComponent ------------------------------------------------------

CFillinComponent::CFillinComponent(std::wstring path) : CComponentLibrary(std::move(path)) {
  tracecore::trace_scope scope("CFillinComponent::Load");
  load();
  fillin_entry_points_t& e = m_entry;
  bool all = true;
  const auto take = [&](const char* name, auto& slot) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
        reinterpret_cast<void*>(resolve(name)));
    all = slot != nullptr && all;
  };
  take("dll_function_get_profiles", e.dll_function_get_profiles);
  take("dll_function_update_profiles", e.dll_function_update_profiles);
  take("dll_function_brrrfromps", e.dll_function_brrrfromps);
  take("dll_function_fillinwindow", e.dll_function_fillinwindow);
  take("dll_function_createprofile", e.dll_function_createprofile);
  take("dll_function_modifyprofile", e.dll_function_modifyprofile);
  take("dll_function_kvichangepassword", e.dll_function_kvichangepassword);
  m_resolved = all;
}

const fillin_entry_points_t& CFillinComponent::entry_points() const {
  check_resolved();
  return m_entry;
}

cvprofiles_t CFillinComponent::get_profiles(const wchar_t* template_id,
                                            const wchar_t* profile_data) const {
  const fillin_entry_points_t& e = entry_points();
  secret_output<BYTE> buffer;
  DWORD size = 0;
  const HRESULT hr = e.dll_function_get_profiles(template_id, profile_data, buffer.put(), &size);
  buffer.set_known_size(size);
  check(hr, "dll_function_get_profiles");
  cvprofiles_t list;
  if (buffer.get() == nullptr || size == 0)
    return list;
  buffer.check_holds(size);
  serialization::named::CInMemStorage storage;
  if (serialization::named::Load(buffer.get(), size, storage) == 0)
    THROW_HR(kNotAnImage);
  serialization::LoadProfiles(storage, nullptr, list);
  return list;
}

serialization::secure_wstring CFillinComponent::update_profiles(
    const wchar_t* template_id,
    const wchar_t* profile_data,
    const cvprofiles_t& profiles) const {
  const fillin_entry_points_t& e = entry_points();
  serialization::memoryblock_T<serialization::aloocator_cpp> image;
  if (serialization::SaveProfilesImage(profiles, image) == 0)
    THROW_HR(E_OUTOFMEMORY);
  secret_output<wchar_t> text;
  check(e.dll_function_update_profiles(template_id, profile_data, image.data(), image.size(),
                                       text.put()),
        "dll_function_update_profiles");
  if (text.get() == nullptr)
    THROW_HR(E_UNEXPECTED);
  return take_string(text);
}

bool CFillinComponent::brrrfromps(HWND owner) const {
  const fillin_entry_points_t& e = entry_points();
  const HRESULT hr = e.dll_function_brrrfromps(owner);
  check(hr, "dll_function_brrrfromps");
  return hr == S_OK;
}

// --- CTrainingComponent ----------------------------------------------------

CTrainingComponent::CTrainingComponent(std::wstring path) : CComponentLibrary(std::move(path)) {
  tracecore::trace_scope scope("CTrainingComponent::Load");
  load();
  training_entry_points_t& e = m_entry;
  bool all = true;
  const auto take = [&](const char* name, auto& slot) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
        reinterpret_cast<void*>(resolve(name)));
    all = slot != nullptr && all;
  };
  take("dll_function_startmonitor", e.dll_function_startmonitor);
  take("dll_function_createmanifest", e.dll_function_createmanifest);
  take("dll_function_modifyprofile", e.dll_function_modifyprofile);
  m_resolved = all;
}

const training_entry_points_t& CTrainingComponent::entry_points() const {
  check_resolved();
  return m_entry;
}

std::optional<cvprofile_t> CTrainingComponent::modify_profile(HWND owner,
                                                              training_mode mode,
                                                              const std::wstring& template_path,
                                                              const wchar_t* template_id,
                                                              DWORD storage,
                                                              const wchar_t* profile_data,
                                                              const cvprofile_t& request) const {
  const training_entry_points_t& e = entry_points();
  serialization::memoryblock_T<serialization::aloocator_cpp> image;
  if (serialization::SaveProfileImage(request, image) == 0)
    THROW_HR(E_OUTOFMEMORY);
  secret_output<BYTE> result;
  DWORD size = 0;
  const HRESULT hr = e.dll_function_modifyprofile(
      owner, static_cast<DWORD>(mode), template_path.c_str(), template_id, storage, profile_data,
      image.data(), image.size(), 0, result.put(), &size);
  result.set_known_size(size);
  check(hr, "dll_function_modifyprofile");
  if (hr != S_OK)
    return std::nullopt;
  // Success without a record is an incomplete answer.
  if (result.get() == nullptr || size == 0)
    THROW_HR(E_UNEXPECTED);
  result.check_holds(size);
  cvprofile_t record;
  if (!serialization::LoadProfileImage(result.get(), size, record))
    THROW_HR(kNotAnImage);
  return record;
}

// --- The process's libraries -----------------------------------------------

const CFillinComponent& fillin_component() {
  // Never deleted: the library stays loaded until the process ends, and no
  // FreeLibrary runs while this module is being unloaded. A failed load
  // leaves the static uninitialised, so the next use tries again.
  static const CFillinComponent* const library =
      new CFillinComponent(templates::component_path(kFillinLibraryName));
  return *library;
}

const CTrainingComponent& training_component() {
  static const CTrainingComponent* const library =
      new CTrainingComponent(templates::component_path(kTrainingLibraryName));
  return *library;
}

}  // namespace fillin
