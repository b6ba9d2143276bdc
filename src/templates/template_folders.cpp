// The well-known folders, the install and component folders, and the portable
// form of template paths against them.
#include <windows.h>

#include <optional>

#include "support/hresult.h"
#include "support/registry.h"
#include "support/suite_folder.h"
#include "support/unique_any.h"
#include "templates/template_folders.h"
#include "tracing/trace.h"

namespace templates {
namespace {

constexpr wchar_t kApplicationsKey[] = L"SOFTWARE\\Corvantis\\Applications";
constexpr wchar_t kProductSubfolder[] = L"Corvantis\\KVX\\";
constexpr wchar_t kTemplatesSubfolder[] = L"Templates\\";
constexpr wchar_t kBinSubfolder[] = L"corvantis\\bin\\";
constexpr int kLocalAppDataCreate = 0x801C;  // CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE

using SHGetFolderPathW_fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);

// An environment variable; nothing when it is not set or empty (the thread's
// last error then tells which).
std::optional<std::wstring> environment_variable(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0)
      return std::nullopt;
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);
  }
}

// The local application data folder through SHFOLDER.DLL, the module already
// loaded in the process when there is one.
std::optional<std::wstring> shfolder_local_appdata() {
  HMODULE module = ::GetModuleHandleW(L"SHFOLDER.DLL");
  support::unique_hmodule loaded;
  if (module == nullptr) {
    loaded.reset(::LoadLibraryW(L"SHFOLDER.DLL"));
    module = loaded.get();
  }
  if (module == nullptr)
    return std::nullopt;
  const auto get_folder_path = reinterpret_cast<SHGetFolderPathW_fn>(
      reinterpret_cast<void*>(::GetProcAddress(module, "SHGetFolderPathW")));
  if (get_folder_path == nullptr)
    return std::nullopt;
  wchar_t path[MAX_PATH] = L"";
  if (FAILED(get_folder_path(nullptr, kLocalAppDataCreate, nullptr, 0, path)) || path[0] == 0)
    return std::nullopt;
  return std::wstring(path);
}

std::wstring program_files_bin() {
  const auto program_files = environment_variable(L"ProgramFiles");
  return program_files ? normalise_folder(*program_files) + kBinSubfolder : std::wstring();
}

// "BinDir" of a key below `machine`; empty when the key or the text is missing.
std::optional<std::wstring> bin_dir_of(HKEY machine, const wchar_t* key_path) {
  const auto key = support::try_open_key(machine, key_path, KEY_READ);
  if (!key)
    return std::nullopt;
  return support::try_get_expanded_string(key->get(), L"BinDir").value_or(std::wstring());
}

}  // namespace

std::wstring install_folder(HKEY machine) {
  const auto bin_dir = bin_dir_of(machine, kApplicationsKey);
  if (bin_dir && !bin_dir->empty())
    return normalise_folder(*bin_dir);
  return program_files_bin();
}

well_known_folders_t resolve_well_known_folders(HKEY machine) {
  tracecore::trace_scope scope("CTemplateFolders::Resolve");
  well_known_folders_t folders;
  if (const auto appdata = environment_variable(L"APPDATA")) {
    folders.roaming_product = normalise_folder(*appdata) + kProductSubfolder;
    folders.roaming_templates = folders.roaming_product + kTemplatesSubfolder;
  } else {
    tracecore::trace_lasterror("failed to get appdata");
  }
  auto local = environment_variable(L"LOCALAPPDATA");
  if (!local)
    local = shfolder_local_appdata();
  if (local)
    folders.local_product = normalise_folder(*local) + kProductSubfolder;
  else
    tracecore::trace_lasterror("failed to get localappdata");
  const std::wstring install = install_folder(machine);
  if (!install.empty())
    folders.components_templates = install + L"templates\\";
  return folders;
}

const well_known_folders_t& well_known_folders() {
  static const well_known_folders_t folders = resolve_well_known_folders(HKEY_LOCAL_MACHINE);
  return folders;
}

std::wstring resolve_component_folder(HKEY machine) {
  const std::wstring folder = support::suite_bin_folder(machine);
  return folder.empty() ? folder : normalise_folder(folder);
}

const std::wstring& component_folder() {
  static const std::wstring folder = resolve_component_folder(HKEY_LOCAL_MACHINE);
  return folder;
}

std::wstring component_path(std::wstring_view file_name) {
  if (component_folder().empty()) {
    // Never a bare name: the loader would search the process's DLL path.
    tracecore::trace_text("no component folder");
    THROW_HR(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  }
  return component_folder() + std::wstring(file_name);
}

std::wstring portable_path(std::wstring_view path) {
  return portable_form(path, well_known_folders());
}

std::string portable_path_utf8(std::string_view path) {
  return portable_form_utf8(path, well_known_folders());
}

}  // namespace templates
