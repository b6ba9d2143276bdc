// Where logon templates are kept: the well-known folders, the component
// folder, the template folder list built from the settings, and the template
// files in it.
//
//   templates::folder_set_t folders;
//   templates::prepfolderlist(folders);          // from the settings
//   templates::file_entry_set_t files;
//   templates::collectall(folders, files);       // the ".cvm" files of local folders
//
//   std::vector<templates::manifest_t> all = templates::collect_all_templates();
//
//   templates::portable_path(L"C:\\...\\Corvantis\\KVX\\Templates\\a.cvm");  // L"kvi::a.cvm"
//   templates::component_path(L"CvFillin.dll");  // the component folder + the name
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "plugin/settings.h"
#include "templates/portable/folders_list.h"
#include "templates/portable/manifest.h"
#include "templates/portable/portable_path.h"

namespace templates {

// --- Well-known folders -------------------------------------------------

// Resolves the four folders now, without caching: the roaming ones from the
// environment variable "APPDATA", the local one from "LOCALAPPDATA" (else
// SHGetFolderPathW of SHFOLDER.DLL), the templates folder beside the
// components from install_folder(). A missing APPDATA traces
// "failed to get appdata", a missing local application data folder
// "failed to get localappdata"; that folder then stays empty.
well_known_folders_t resolve_well_known_folders(HKEY machine = HKEY_LOCAL_MACHINE);
// The same, resolved once per process (from HKEY_LOCAL_MACHINE).
const well_known_folders_t& well_known_folders();

// "BinDir" of SOFTWARE\Corvantis\Applications, normalised; when the key cannot
// be opened or holds no such text, %ProgramFiles%\corvantis\bin\ (empty when
// even ProgramFiles is not set). `machine` stands for HKEY_LOCAL_MACHINE.
std::wstring install_folder(HKEY machine = HKEY_LOCAL_MACHINE);

// Where the component DLLs and executables are loaded from: "BinDir" of
// SOFTWARE\Corvantis\Applications\KVX, else of SOFTWARE\Corvantis\Applications,
// normalised; else %ProgramFiles%\corvantis\bin\.
std::wstring resolve_component_folder(HKEY machine = HKEY_LOCAL_MACHINE);
// The same, resolved once per process.
const std::wstring& component_folder();
// The component folder followed by the file name.
std::wstring component_path(std::wstring_view file_name);

// The portable form of a template path against well_known_folders() (see
// portable_form).
std::wstring portable_path(std::wstring_view path);
std::string portable_path_utf8(std::string_view path);

// --- Folders ----------------------------------------------------------

// Creates every missing folder along `path`, from the root down, and the last
// one. True when the folder exists afterwards (created now or before); false
// as soon as one cannot be created, with the thread's last error telling why
// (ERROR_DIRECTORY when a file is in the way).
bool create_folder(const std::wstring& path);

// Validates a folder record and fills in `local` and `accessible`:
// network shares ("\\server\share\") are accepted as not local; otherwise the
// path must start with a drive and a colon ("strange path '%s'"), and the
// drive must be fixed (local) or remote (not local); any other drive type
// traces "unknown drive type = %d" and rejects the folder. A folder that is
// not local is probed with a search for "*.cvm" in it; any failure but
// file-not-found marks it not accessible (it is still accepted).
bool checkpath(folder_record_t& folder);

// Fills `folders` from the settings "is_personalmode", "alienstorage_dirs",
// "bin_dir", "cachestorage_dir" and "localstorage_dir" (read through `api`),
// creating the cache and the local storage folders. Never raises; what goes
// wrong is traced and the folders inserted so far stay.
void prepfolderlist(folder_set_t& folders, const plugin::settings_api_t& api);
void prepfolderlist(folder_set_t& folders);  // through plugin::settings_api()

// Adds the ".cvm" files of one folder to `files`.
void enumfnames(const folder_record_t& folder, file_entry_set_t& files);

// Enumerates every local folder of the set, in set order.
void collectall(const folder_set_t& folders, file_entry_set_t& files);

// Every template of the folder list (prepfolderlist, collectall) that loads
// with loadM_properly, in file entry order; templates of foreign and cache
// folders are loaded through "alien|" paths.
std::vector<manifest_t> collect_all_templates(const plugin::settings_api_t& api);
std::vector<manifest_t> collect_all_templates();

}  // namespace templates
