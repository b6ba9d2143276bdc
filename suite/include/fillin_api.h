// The fill-in component "CvFillin.dll", the training component "CvUTrain.dll"
// and the host "CvRunDll.exe" that runs the training monitor in a process of
// its own: their entry points as the component calls them and the stand-ins
// under suite/ implement them (docs/fillin-training.md).
//
// Every entry point is __stdcall, exported undecorated and returns an HRESULT.
// Strings are UTF-16. Every buffer an entry point returns is COM task memory
// (CoTaskMemAlloc) that the caller frees with CoTaskMemFree; profile lists,
// profile images and profile texts may hold secrets, so the caller overwrites
// them with zeros first.
//
// Profile lists and profile records travel as named-storage images: a list is
// the sections array "cvprofiles_t" at the root, one record the fields of a
// record at the root (store/portable/profile_records.h).
//
// The profile data is the user's profile text as the protected storage keeps it
// (CVOPSQuery); the fill-in component reads the profiles of one template out of
// it and returns a new text with them replaced, which the caller saves
// (CVOPSSave, CVOPSCommit).
#pragma once

#include <windows.h>

// The operations of the training component's account dialog; the profile
// request's "operation" carries the same number.
#define CVUTRAIN_MODE_ADD 1
#define CVUTRAIN_MODE_EDIT 3

// Control identifiers of the stand-in's account dialogs: row i of the dialog
// has its label at CVUTRAIN_FIRST_LABEL_ID + i and its edit field at
// CVUTRAIN_FIRST_EDIT_ID + i. Row 0 of the account dialog is the account's
// name; the template's fields follow in template order.
#define CVUTRAIN_FIRST_EDIT_ID 1000
#define CVUTRAIN_FIRST_LABEL_ID 2000

extern "C" {

// --- CvFillin.dll -------------------------------------------------------

// The profiles stored for one template in the profile data: a list image.
// `profile_data` may be null or empty (no profiles). A text that is not
// profile data holds no profiles either. The outputs are null and 0 unless the
// call succeeds.
typedef HRESULT(WINAPI* dll_function_get_profiles_fn)(LPCWSTR template_id,
                                                      LPCWSTR profile_data,
                                                      BYTE** profiles,
                                                      DWORD* size);

// Replaces the template's profiles in the profile data by the list image
// (records whose operation is 2, deleted, are left out; an empty list removes
// the template's profiles) and returns the new profile data. Profile data of
// another format is refused (ERROR_INVALID_DATA) rather than overwritten.
typedef HRESULT(WINAPI* dll_function_update_profiles_fn)(LPCWSTR template_id,
                                                         LPCWSTR profile_data,
                                                         const BYTE* profiles,
                                                         DWORD size,
                                                         LPWSTR* new_profile_data);

// Asks whether the user may see a stored password: S_OK yes, S_FALSE no.
typedef HRESULT(WINAPI* dll_function_brrrfromps_fn)(HWND owner);

// Fills the edit controls of `window`, in their order, with the values of the
// profile of that index (references are left out). Not called by the component.
typedef HRESULT(WINAPI* dll_function_fillinwindow_fn)(HWND window,
                                                      LPCWSTR template_id,
                                                      LPCWSTR profile_data,
                                                      LONG profile_index);

// Adds an empty profile of that name to the template (the next free profile
// index) and returns the new profile data. Not called by the component.
typedef HRESULT(WINAPI* dll_function_createprofile_fn)(LPCWSTR template_id,
                                                       LPCWSTR profile_data,
                                                       LPCWSTR profile_name,
                                                       LPWSTR* new_profile_data);

// Puts one record image in place of the template's record with the same
// profile and form index (or adds it) and returns the new profile data. Not
// called by the component.
typedef HRESULT(WINAPI* CvFillin_modifyprofile_fn)(LPCWSTR template_id,
                                                   LPCWSTR profile_data,
                                                   const BYTE* profile,
                                                   DWORD size,
                                                   LPWSTR* new_profile_data);

// Sets the value of the item with that database name in the profile of that
// index and returns the new profile data. Not called by the component.
typedef HRESULT(WINAPI* dll_function_kvichangepassword_fn)(LPCWSTR template_id,
                                                           LPCWSTR profile_data,
                                                           LONG profile_index,
                                                           LPCWSTR dbname,
                                                           LPCWSTR new_password,
                                                           LPWSTR* new_profile_data);

// --- CvUTrain.dll -------------------------------------------------------

// The account dialog: adds an account to a logon (CVUTRAIN_MODE_ADD) or edits
// one (CVUTRAIN_MODE_EDIT).
//   owner          the parent of the dialog
//   mode           CVUTRAIN_MODE_ADD or CVUTRAIN_MODE_EDIT
//   template_path  the logon's template file (may begin with "alien|")
//   template_id    its identifier
//   storage        the caller's protected-storage session (0: none); passwords
//                  are kept as references staged on it, and references are
//                  read through it to show them
//   profile_data   the user's profile text (may be null)
//   request        the profile request: a record image with the operation
//                  (the mode), the profile index and the profile name; in
//                  edit mode the account's whole record
//   request_size   its size in bytes
//   flags          0
//   profile, profile_size  receive the resulting record image
// S_OK with the record; S_FALSE when the user cancelled or (edit mode)
// changed nothing, with null and 0 as outputs.
typedef HRESULT(WINAPI* CvUTrain_modifyprofile_fn)(HWND owner,
                                                   DWORD mode,
                                                   LPCWSTR template_path,
                                                   LPCWSTR template_id,
                                                   DWORD storage,
                                                   LPCWSTR profile_data,
                                                   const BYTE* request,
                                                   DWORD request_size,
                                                   DWORD flags,
                                                   BYTE** profile,
                                                   DWORD* profile_size);

// Writes a web logon template for a site into a folder (null: the user's own
// template folder) and returns its path and identifier.
typedef HRESULT(WINAPI* dll_function_createmanifest_fn)(LPCWSTR name,
                                                        LPCWSTR address,
                                                        LPCWSTR folder,
                                                        LPWSTR* template_path,
                                                        LPWSTR* template_id);

// --- CvRunDll.exe -------------------------------------------------------

// The form of an entry point that CvRunDll.exe runs:
//   CvRunDll.exe "<library>" "<entry point>" "<value>"...
// The entry point gets the values after its name; its result is the process's
// exit code.
typedef HRESULT(WINAPI* cvrundll_entry_fn)(int count, const LPCWSTR* values);

// The training monitor (run through CvRunDll.exe): lets the user teach a new
// logon (name, address, user name, password), writes its template into the
// user's template folder and its profile into the protected storage. Values:
// the console's notification window as "0x%08X" (optional), which is brought
// to the front afterwards. S_FALSE when the user cancelled.
typedef cvrundll_entry_fn dll_function_startmonitor_fn;

}  // extern "C"
