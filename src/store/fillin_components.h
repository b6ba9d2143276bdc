// The suite's fill-in component "CvFillin.dll" and training component
// "CvUTrain.dll" (the calls are in suite/include/fillin_api.h).
//
//   const fillin::CFillinComponent& fill = fillin::fillin_component();
//   serialization::cvprofiles_t list = fill.get_profiles(template_id, text.c_str());
//   serialization::secure_wstring changed = fill.update_profiles(template_id, text.c_str(), list);
//
//   const fillin::CTrainingComponent& train = fillin::training_component();
//   if (auto record = train.modify_profile(owner, fillin::training_mode::add, manifest.path_key(),
//                                          template_id, handle, text.c_str(), request))
//     ...
//
// Each library is loaded once per process from the component folder, on first
// use, and stays loaded. A library that cannot be loaded raises
// errors::fileload_lasterror (and is tried again on the next use); one that
// lacks any required entry point stays loaded and every call raises
// std::runtime_error "Unresolved functions in '<path>'". A negative HRESULT of
// an entry point is raised as support::hresult_error. Task-memory outputs are
// copied, overwritten with zeros and only then freed.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "store/component_library.h"
#include "store/portable/profile_records.h"
#include "store/portable/secure_memory.h"
#include "suite/include/fillin_api.h"

namespace fillin {

inline constexpr wchar_t kFillinLibraryName[] = L"CvFillin.dll";
inline constexpr wchar_t kTrainingLibraryName[] = L"CvUTrain.dll";

// The seven entry points of the fill-in component, all required.
struct fillin_entry_points_t {
  dll_function_get_profiles_fn dll_function_get_profiles = nullptr;
  dll_function_update_profiles_fn dll_function_update_profiles = nullptr;
  dll_function_brrrfromps_fn dll_function_brrrfromps = nullptr;
  dll_function_fillinwindow_fn dll_function_fillinwindow = nullptr;
  dll_function_createprofile_fn dll_function_createprofile = nullptr;
  CvFillin_modifyprofile_fn dll_function_modifyprofile = nullptr;
  dll_function_kvichangepassword_fn dll_function_kvichangepassword = nullptr;
};

// The three entry points of the training component, all required.
struct training_entry_points_t {
  dll_function_startmonitor_fn dll_function_startmonitor = nullptr;
  dll_function_createmanifest_fn dll_function_createmanifest = nullptr;
  CvUTrain_modifyprofile_fn dll_function_modifyprofile = nullptr;
};

using pstore::CComponentLibrary;

class CFillinComponent : private CComponentLibrary {
 public:
  explicit CFillinComponent(std::wstring path);
  using CComponentLibrary::module;
  using CComponentLibrary::path;
  using CComponentLibrary::resolved;

  // The entry points; raises "Unresolved functions in '<path>'" unless all
  // seven were found.
  const fillin_entry_points_t& entry_points() const;

  // dll_function_get_profiles (template id, profile data, out buffer, out
  // size): the records stored for the template in the profile data, decoded.
  // No buffer means no records; a buffer that is not a list image raises
  // HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
  serialization::cvprofiles_t get_profiles(const wchar_t* template_id,
                                           const wchar_t* profile_data) const;
  // dll_function_update_profiles (template id, profile data, list image,
  // size, out text): the new profile data. No text back raises E_UNEXPECTED.
  serialization::secure_wstring update_profiles(const wchar_t* template_id,
                                                const wchar_t* profile_data,
                                                const serialization::cvprofiles_t& profiles) const;
  // dll_function_brrrfromps (owner): true when the user may see the password
  // (S_OK), false when the user cancelled (any other success code).
  bool brrrfromps(HWND owner) const;

 private:
  fillin_entry_points_t m_entry;
};

// The account dialog's modes; the request's operation carries the same number.
enum class training_mode : DWORD { add = CVUTRAIN_MODE_ADD, edit = CVUTRAIN_MODE_EDIT };

class CTrainingComponent : private CComponentLibrary {
 public:
  explicit CTrainingComponent(std::wstring path);
  using CComponentLibrary::module;
  using CComponentLibrary::path;
  using CComponentLibrary::resolved;

  // The entry points; raises "Unresolved functions in '<path>'" unless all
  // three were found.
  const training_entry_points_t& entry_points() const;

  // dll_function_modifyprofile with the request encoded as a record image:
  // the account's record as the user left it, or nullopt when the user
  // cancelled or changed nothing (S_FALSE). `storage` is the caller's
  // protected-storage session (0: none).
  std::optional<serialization::cvprofile_t> modify_profile(
      HWND owner,
      training_mode mode,
      const std::wstring& template_path,
      const wchar_t* template_id,
      DWORD storage,
      const wchar_t* profile_data,
      const serialization::cvprofile_t& request) const;

 private:
  training_entry_points_t m_entry;
};

// The process's libraries: the file names of the component folder, loaded on
// first use and kept until the process ends.
const CFillinComponent& fillin_component();
const CTrainingComponent& training_component();

}  // namespace fillin
