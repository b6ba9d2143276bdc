// Win32 side of the template reader: the file is mapped read-only and its
// bytes handed to the platform-free reader; loadM_properly turns every
// failure into one trace line.
#include "templates/template_loader.h"

#include <windows.h>

#include <exception>
#include <string>

#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"
#include "templates/portable/template_reader.h"
#include "tracing/trace.h"

namespace errors {
namespace {

std::string system_message(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const support::unique_local owner(buffer);
  std::wstring text(buffer ? buffer : L"", buffer ? length : 0);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  if (text.empty())
    return "[" + std::to_string(error) + "]";
  return templates::wide_to_utf8(text);
}

std::string lasterror_message(const std::wstring& file, DWORD error) {
  return "File: " + templates::wide_to_utf8(file) + " Error: " + system_message(error);
}

}  // namespace

fileload_lasterror::fileload_lasterror(const std::wstring& file)
    : fileload_lasterror(file, ::GetLastError()) {}

fileload_lasterror::fileload_lasterror(const std::wstring& file, DWORD error)
    : std::runtime_error(lasterror_message(file, error)), m_error(error) {}

}  // namespace errors

namespace templates {
namespace {

using unique_view =
    support::unique_any<const void*, decltype(&::UnmapViewOfFile), ::UnmapViewOfFile>;

}  // namespace

void load_manifest(manifest_t& manifest, const std::wstring& path) {
  const bool alien = path.compare(0, kAlienPrefixLength, kAlienPrefix) == 0;
  const std::wstring file = alien ? path.substr(kAlienPrefixLength) : path;

  // Opened first and asked about only when that fails (one call less for the
  // files that load): a missing file or a folder is "notfound", a file that
  // exists but cannot be opened "noaccess". An empty file cannot be mapped and
  // counts as one that cannot be read.
  const support::unique_file handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                                  nullptr));
  if (!handle) {
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      throw errors::fileload_error(errors::fileload_error::notfound, wide_to_utf8(file));
    throw errors::fileload_error(errors::fileload_error::noaccess, wide_to_utf8(file));
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle.get(), &size))
    throw errors::fileload_error(errors::fileload_error::noaccess, wide_to_utf8(file));
  const support::unique_handle mapping(
      ::CreateFileMappingW(handle.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const unique_view view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0)
                                 : nullptr);
  if (!view)
    throw errors::fileload_error(errors::fileload_error::noaccess, wide_to_utf8(file));

  read_manifest(static_cast<const char*>(view.get()), static_cast<std::size_t>(size.QuadPart),
                manifest);
  manifest.alien = alien;
  manifest.path = wide_to_utf8(file);
}

bool loadM_properly(manifest_t& manifest, const std::wstring& path) noexcept {
  tracecore::trace_scope scope("loadM_properly");
  const auto trace_raised = [](const char* text) noexcept {
    try {
      tracecore::trace_text((std::string("loadM_properly: ") + text).c_str());
    } catch (...) {
      tracecore::trace_text("loadM_properly oo");
    }
  };
  try {
    load_manifest(manifest, path);
    return true;
  } catch (const errors::fileload_error& e) {
    try {
      tracecore::trace_text(tracecore::format_t("File problem [%s]: '%s'") % e.code_name() %
                            e.what());
    } catch (...) {
      tracecore::trace_text("loadM_properly oo");
    }
  } catch (const char* text) {
    trace_raised(text ? text : "");
  } catch (const std::string& text) {
    trace_raised(text.c_str());
  } catch (const std::exception& e) {
    trace_raised(e.what());
  } catch (...) {
    tracecore::trace_text("loadM_properly oo");
  }
  return false;
}

}  // namespace templates
