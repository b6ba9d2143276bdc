#include "store/fillin_components.h"

#include <objbase.h>

#include <stdexcept>
#include <type_traits>

#include "store/portable/memory_block.h"
#include "store/protected_storage.h"
#include "store/task_memory.h"
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

template <typename T>
using secret_output = pstore::task_output<T>;

// Raises a failed result of an entry point as a COM error, traced with the
// entry point's name.
void check(HRESULT hr, const char* entry_point) {
  if (FAILED(hr)) {
    tracecore::trace_error(entry_point, hr);
    support::throw_hresult(hr, entry_point);
  }
}

}  // namespace

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
  secret_output<BYTE> buffer(true);
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
  secret_output<wchar_t> text(true);
  check(e.dll_function_update_profiles(template_id, profile_data, image.data(), image.size(),
                                       text.put()),
        "dll_function_update_profiles");
  if (text.get() == nullptr)
    THROW_HR(E_UNEXPECTED);
  return pstore::take_string<serialization::secure_wstring>(text);
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
  secret_output<BYTE> result(true);
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
