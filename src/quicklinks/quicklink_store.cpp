#include "quicklinks/quicklink_store.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "plugin/settings.h"
#include "support/hresult.h"
#include "support/registry.h"
#include "support/unique_any.h"
#include "templates/portable/manifest_errors.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_folders.h"
#include "tracing/trace.h"

namespace QL {
namespace {

using templates::utf8_to_wide;
using templates::wide_to_utf8;

// The whole file; raises errors::fileload_error when it can't be opened or read.
std::string read_whole_file(const std::wstring& path) {
  support::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    throw errors::fileload_error(
        missing ? errors::fileload_error::notfound : errors::fileload_error::noaccess,
        wide_to_utf8(path));
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF)
    throw errors::fileload_error(errors::fileload_error::badfile, wide_to_utf8(path));
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size()))
    throw errors::fileload_error(errors::fileload_error::noaccess, wide_to_utf8(path));
  return bytes;
}

bool write_all(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

std::wstring folder_of(const std::wstring& path) {
  const std::size_t at = path.find_last_of(L"\\/");
  return at == std::wstring::npos ? std::wstring(L".") : path.substr(0, at + 1);
}

}  // namespace

const environment_t& system_environment() {
  static const environment_t environment{
      [](const std::string& program) {
        const DWORD attributes = ::GetFileAttributesW(utf8_to_wide(program).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
      },
      [](const std::string& text) {
        return wide_to_utf8(support::expand_environment(utf8_to_wide(text)));
      },
      [](const std::string& path) { return templates::portable_path_utf8(path); },
      [](const std::string& line) { tracecore::trace_text(line.c_str()); },
  };
  return environment;
}

std::wstring file_name() {
  std::wstring name;
  if (FAILED(plugin::read_setting_string(L"quicklink_filename", name)))
    name.clear();
  return name;
}

void load_file(const std::wstring& path, set_t& set) {
  set.clear();
  if (!path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    try {
      parse_text(read_whole_file(path), set, system_environment());
    } catch (const errors::fileload_error& e) {
      tracecore::trace_format("load_textfile [%s]: '%s'", e.code_name().c_str(), e.what());
      set.clear();
    } catch (const std::exception& e) {
      tracecore::trace_format("load_textfile: %s", e.what());
      set.clear();
    } catch (...) {
      tracecore::trace_text("load_textfile oo");
      set.clear();
    }
  }
  apply_precedence(set, system_environment());
}

void load(set_t& set) {
  load_file(file_name(), set);
}

bool save(const std::wstring& fname, set_t& set) {
  tracecore::trace_format("save %s", templates::portable_path_utf8(wide_to_utf8(fname)).c_str());
  if (fname.empty()) {
    tracecore::trace_text("empty fname");
    return false;
  }
  std::wstring temp;
  try {
    const std::string text = write_text(set);
    // The new links go to a file of their own in the same folder, so the move
    // below replaces the old file in one step on the same volume.
    wchar_t temp_name[MAX_PATH + 1] = {};
    if (::GetTempFileNameW(folder_of(fname).c_str(), L"qlk", 0, temp_name) == 0) {
      tracecore::trace_lasterror("_wopen failed");
      return false;
    }
    temp = temp_name;
    support::unique_file file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr,
                                            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      tracecore::trace_lasterror("_wopen failed");
      ::DeleteFileW(temp.c_str());
      return false;
    }
    if (!write_all(file.get(), text) || !::FlushFileBuffers(file.get()))
      support::throw_last_error("write");
    file.reset();
    if (!::MoveFileExW(temp.c_str(), fname.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      support::throw_last_error("replace");
  } catch (const support::hresult_error& e) {
    tracecore::trace_error("savefile exception", e.code());
    ::DeleteFileW(temp.c_str());
    return false;
  } catch (...) {
    tracecore::trace_text("savefile exception");
    if (!temp.empty())
      ::DeleteFileW(temp.c_str());
    return false;
  }
  set.modified = false;
  return true;
}

bool save_if_modified(set_t& set) {
  if (!set.modified)
    return true;
  return save(file_name(), set);
}

bool add(set_t& set,
         const std::wstring& target,
         const std::wstring& name,
         int profile,
         const std::wstring& manifestid,
         const std::wstring& manifest) {
  tracecore::trace_scope scope("QL::add");
  try {
    return add(set, wide_to_utf8(target), wide_to_utf8(name), profile, wide_to_utf8(manifestid),
               wide_to_utf8(manifest), system_environment());
  } catch (const std::exception& e) {
    tracecore::trace_format("QL::add: %s", e.what());
    return false;
  }
}

std::size_t del(set_t& set, const std::wstring& manifest) {
  tracecore::trace_scope scope("QL::del");
  try {
    return del(set, wide_to_utf8(manifest), system_environment());
  } catch (const std::exception& e) {
    tracecore::trace_format("QL::del: %s", e.what());
    return 0;
  }
}

}  // namespace QL
