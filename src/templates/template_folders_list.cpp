// The template folder list: validating folders, building the list from the
// settings, creating folders and enumerating the template files in them.
#include <windows.h>

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "support/hresult.h"
#include "templates/template_folders.h"
#include "tracing/trace.h"

namespace templates {
namespace {

// Owns a file search handle.
class unique_find {
 public:
  explicit unique_find(HANDLE handle) noexcept : m_handle(handle) {}
  ~unique_find() {
    if (*this) {
      const DWORD last_error = ::GetLastError();
      ::FindClose(m_handle);
      ::SetLastError(last_error);
    }
  }
  unique_find(const unique_find&) = delete;
  unique_find& operator=(const unique_find&) = delete;
  HANDLE get() const noexcept { return m_handle; }
  explicit operator bool() const noexcept { return m_handle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE m_handle;
};

HRESULT last_error_hresult() {
  return HRESULT_FROM_WIN32(::GetLastError());
}

void trace_path(const wchar_t* format, const std::wstring& path) {
  tracecore::trace_text(tracecore::format_t(format) % path);
}

void trace_path_error(const wchar_t* format, const std::wstring& path, HRESULT hr) {
  tracecore::trace_error((tracecore::format_t(format) % path).str().c_str(), hr);
}

bool is_folder(const std::wstring& path, DWORD* attributes_out = nullptr) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes_out != nullptr)
    *attributes_out = attributes;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The cache and the local storage folder: created when missing, traced, and
// inserted whatever the creation gave.
void add_storage_folder(folder_set_t& folders,
                        const std::wstring& setting,
                        bool alien,
                        const wchar_t* created_format,
                        const wchar_t* failed_format,
                        const char* duplicate_text) {
  if (setting.empty())
    return;
  folder_record_t record;
  record.path = normalise_folder(setting);
  record.alien = alien;
  record.local = true;
  record.accessible = true;
  if (create_folder(record.path))
    trace_path(created_format, record.path);
  else
    trace_path_error(failed_format, record.path, last_error_hresult());
  if (!folders.insert(std::move(record)).second)
    tracecore::trace_text(duplicate_text);
}

void fill_folder_list(folder_set_t& folders, const plugin::settings_api_t& api) {
  // A setting that cannot be read counts as not given: no personal mode, empty texts.
  bool personal_mode = false;
  plugin::read_setting_boolean(api, L"is_personalmode", personal_mode);
  std::wstring alienstorage_dirs;
  if (!personal_mode)
    plugin::read_setting_string(api, L"alienstorage_dirs", alienstorage_dirs);
  std::wstring bin_dir;
  plugin::read_setting_string(api, L"bin_dir", bin_dir);

  for (auto& path : foreign_folder_paths(personal_mode, alienstorage_dirs, bin_dir)) {
    folder_record_t record;
    record.path = std::move(path);
    record.alien = true;
    record.accessible = true;
    if (!checkpath(record))
      trace_path(L"path is invalid '%s'", record.path);
    else if (!folders.insert(std::move(record)).second)
      tracecore::trace_text("duplicated path in alien folders");
  }

  std::wstring cache;
  plugin::read_setting_string(api, L"cachestorage_dir", cache);
  add_storage_folder(folders, cache, true, L"cache '%s'", L"cache '%s' create failed",
                     "duplicated path in cached folders");

  std::wstring local;
  plugin::read_setting_string(api, L"localstorage_dir", local);
  add_storage_folder(folders, local, false, L"local '%s'", L"local '%s' create failed",
                     "duplicated path in personal storage folder");
}

}  // namespace

bool create_folder(const std::wstring& path) {
  const auto steps = folder_creation_steps(path);
  if (steps.empty()) {
    // Only a root (or nothing): there is nothing to create.
    if (is_folder(path))
      return true;
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  for (const auto& step : steps) {
    DWORD attributes = 0;
    if (is_folder(step, &attributes))
      continue;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      ::SetLastError(ERROR_DIRECTORY);  // a file is in the way
      return false;
    }
    if (!::CreateDirectoryW(step.c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      if (is_folder(step))  // made by someone else meanwhile
        continue;
      ::SetLastError(error);
      return false;
    }
  }
  return true;
}

bool checkpath(folder_record_t& folder) {
  tracecore::trace_scope scope("checkpath");
  switch (classify_folder_path(folder.path)) {
    case path_kind_t::network_share:
      folder.local = false;
      break;
    case path_kind_t::strange:
      trace_path(L"strange path '%s'", folder.path);
      return false;
    case path_kind_t::drive: {
      const std::wstring root = folder.path.substr(0, 3);
      const UINT type = ::GetDriveTypeW(root.c_str());
      if (type == DRIVE_FIXED) {
        folder.local = true;
      } else if (type == DRIVE_REMOTE) {
        folder.local = false;
      } else {
        tracecore::trace_format("unknown drive type = %d", static_cast<int>(type));
        return false;
      }
      break;
    }
  }
  if (!folder.local) {
    // Whether the share can be searched at all; an empty folder is fine.
    WIN32_FIND_DATAW data;
    const std::wstring pattern = template_search_pattern(folder.path);
    const unique_find find(::FindFirstFileW(pattern.c_str(), &data));
    if (!find && ::GetLastError() != ERROR_FILE_NOT_FOUND)
      folder.accessible = false;
  }
  return true;
}

void prepfolderlist(folder_set_t& folders, const plugin::settings_api_t& api) {
  tracecore::trace_scope scope("prepfolderlist");
  try {
    fill_folder_list(folders, api);
    tracecore::trace_text("done\n");
  } catch (const support::hresult_error& e) {
    if (FAILED(e.code()))
      tracecore::trace_error("[COM]", e.code());
    else
      tracecore::trace_error("oo", 0);
  } catch (const std::exception& e) {
    tracecore::trace_error((tracecore::format_t("[STD] %s") % e.what()).str().c_str(), 0);
  } catch (...) {
    tracecore::trace_error("oo", 0);
  }
}

void prepfolderlist(folder_set_t& folders) {
  prepfolderlist(folders, plugin::settings_api());
}

void enumfnames(const folder_record_t& folder, file_entry_set_t& files) {
  tracecore::trace_scope scope("enumfnames");
  const std::wstring pattern =
      (tracecore::format_t(L"%s*%s") % folder.path % kTemplateExtension).str();
  trace_path(L"  '%s'", portable_path(folder.path));
  WIN32_FIND_DATAW data;
  const unique_find find(::FindFirstFileW(pattern.c_str(), &data));
  if (!find) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_PATH_NOT_FOUND && error != ERROR_FILE_NOT_FOUND)
      trace_path_error(L"failed access files from folder '%s'", folder.path,
                       HRESULT_FROM_WIN32(error));
    return;
  }
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        is_template_file_name(data.cFileName))
      files.insert(file_entry_t{folder.path, data.cFileName, folder.alien});
  } while (::FindNextFileW(find.get(), &data));
  const DWORD error = ::GetLastError();
  if (error != ERROR_NO_MORE_FILES)
    trace_path_error(L"failed enum files from folder '%s'", folder.path, HRESULT_FROM_WIN32(error));
}

void collectall(const folder_set_t& folders, file_entry_set_t& files) {
  tracecore::trace_scope scope("collectall");
  const bool any_local = std::any_of(folders.begin(), folders.end(),
                                     [](const folder_record_t& folder) { return folder.local; });
  if (!any_local) {
    tracecore::trace_format("no %s folders", "local");
    return;
  }
  tracecore::trace_format("%s folders", "local");
  for (const auto& folder : folders) {
    if (folder.local)
      enumfnames(folder, files);
  }
}

}  // namespace templates
