#include "suite/agent/agent_folders.h"

#include <oleauto.h>

#include <algorithm>
#include <initializer_list>
#include <optional>

#include "suite/include/suite_api.h"
#include "support/registry.h"
#include "support/unique_any.h"

namespace cvagent {
namespace {

std::wstring lower(std::wstring text) {
  if (!text.empty())
    ::CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring with_separator(std::wstring path) {
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
    path += L'\\';
  return path;
}

std::wstring exe_folder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// The settings library: beside the agent (an installation lays the suite's
// programs side by side), else in the suite's binary folder.
support::unique_hmodule load_settings_library() {
  support::unique_hmodule module(::LoadLibraryW((exe_folder() + L"CvoSet.dll").c_str()));
  if (module)
    return module;
  for (const wchar_t* key :
       {L"SOFTWARE\\Corvantis\\Applications\\KVX", L"SOFTWARE\\Corvantis\\Applications"}) {
    if (const auto opened = support::try_open_key(HKEY_LOCAL_MACHINE, key, KEY_READ))
      if (const auto bin = support::try_get_string(opened->get(), L"BinDir"); bin && !bin->empty())
        if (module.reset(::LoadLibraryW((with_separator(*bin) + L"CvoSet.dll").c_str())); module)
          return module;
  }
  return module;
}

class settings_reader_t {
 public:
  settings_reader_t() : m_module(load_settings_library()) {
    if (m_module)
      m_query = reinterpret_cast<api_settings_query_fn>(
          reinterpret_cast<void*>(::GetProcAddress(m_module.get(), "api_settings_query")));
  }
  bool available() const { return m_query != nullptr; }

  std::optional<std::wstring> read(const wchar_t* name) const {
    if (!m_query)
      return std::nullopt;
    BSTR request_name = ::SysAllocString(name);
    BSTR result = nullptr;
    SETTINGS_QUERY_REQUEST request{12, request_name, &result};
    const HRESULT hr = m_query(&request);
    ::SysFreeString(request_name);
    if (FAILED(hr) || !result)
      return std::nullopt;
    std::wstring value(result, ::SysStringLen(result));
    ::SysFreeString(result);
    return value;
  }

 private:
  support::unique_hmodule m_module;
  api_settings_query_fn m_query = nullptr;
};

void add_folder(std::vector<agent_folder_t>& folders, const std::wstring& path, bool own) {
  if (path.empty())
    return;
  agent_folder_t folder{with_separator(path), own};
  for (auto& known : folders)
    if (lower(known.path) == lower(folder.path)) {
      known.own = known.own || own;
      return;
    }
  folders.push_back(std::move(folder));
}

bool is_template_name(const std::wstring& name) {
  return name.size() > 4 && lower(name.substr(name.size() - 4)) == L".cvm";
}

}  // namespace

std::vector<agent_folder_t> template_folders(const options_t& options, std::string& note) {
  std::vector<agent_folder_t> folders;
  if (options.folders_given) {
    if (options.local_folder)
      add_folder(folders, *options.local_folder, true);
    for (const auto& folder : options.folders)
      add_folder(folders, folder, false);
    note = "folders from the command line";
    return folders;
  }
  const settings_reader_t settings;
  if (!settings.available()) {
    note = "no settings library: no folders";
    return folders;
  }
  // A boolean setting is a number; -1 and anything not positive mean false.
  const auto personal = settings.read(L"is_personalmode");
  const bool personal_mode = personal && _wtoi(personal->c_str()) > 0;
  if (!personal_mode)
    if (const auto alien = settings.read(L"alienstorage_dirs")) {
      std::size_t start = 0;
      while (start <= alien->size()) {
        const std::size_t bar = std::min(alien->find(L'|', start), alien->size());
        add_folder(folders, alien->substr(start, bar - start), false);
        start = bar + 1;
      }
    }
  if (const auto bin = settings.read(L"bin_dir"); bin && !bin->empty())
    add_folder(folders, with_separator(*bin) + L"templates", false);
  if (const auto cache = settings.read(L"cachestorage_dir"))
    add_folder(folders, *cache, false);
  if (const auto local = settings.read(L"localstorage_dir"))
    add_folder(folders, *local, true);
  note = "folders from the settings";
  return folders;
}

std::vector<template_file_t> template_files(const std::vector<agent_folder_t>& folders) {
  std::vector<template_file_t> files;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((folders[i].path + L"*.cvm").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
      continue;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && is_template_name(found.cFileName))
        names.emplace_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    for (auto& name : names)
      files.push_back({i, std::move(name)});
  }
  return files;
}

}  // namespace cvagent
