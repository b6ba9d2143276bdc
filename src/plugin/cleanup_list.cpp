#include "plugin/cleanup_list.h"

#include <windows.h>

#include "plugin/portable/cleanup_line.h"
#include "support/hresult.h"
#include "support/registry.h"
#include "support/suite_folder.h"
#include "support/unique_any.h"
#include "tracing/trace.h"

namespace plugin {
namespace {

bool running_under_wow64() {
  using fn_t = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto fn = reinterpret_cast<fn_t>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
  BOOL wow64 = FALSE;
  return fn != nullptr && fn(::GetCurrentProcess(), &wow64) && wow64;
}

void append_line(const std::wstring& file,
                 const wchar_t* root,
                 const wchar_t* path,
                 unsigned flags,
                 const std::optional<std::wstring>& valueName);

}  // namespace

std::wstring corvantis_path() {
  const REGSAM view = running_under_wow64() ? KEY_WOW64_64KEY : 0;
  const auto key =
      support::try_open_key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvantis", KEY_READ | view);
  if (!key)
    return std::wstring();
  return support::try_get_string(key->get(), L"CorvantisPath").value_or(L"");
}

void AddCleanupLine(const wchar_t* root,
                    const wchar_t* path,
                    unsigned flags,
                    std::optional<std::wstring> valueName) {
  tracecore::trace_scope scope("AddCleanupLine");
  if (root == nullptr || *root == L'\0' || path == nullptr || *path == L'\0')
    THROW_HR(E_INVALIDARG);
  std::wstring file = corvantis_path();
  // Without an absolute installation folder the list would land wherever the
  // process happens to stand, where no uninstaller looks: nothing is written.
  if (!support::is_absolute_folder(file)) {
    tracecore::trace_format("no installation folder (CorvantisPath '%ls'): Cleanup.txt not written",
                            file.c_str());
    THROW_HR(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  }
  if (file.back() != L'\\')
    file += L'\\';
  file += L"Cleanup.txt";
  try {
    append_line(file, root, path, flags, valueName);
  } catch (const support::hresult_error& e) {
    tracecore::trace_error(file.c_str(), e.code());
    throw;
  }
}

namespace {

void append_line(const std::wstring& file,
                 const wchar_t* root,
                 const wchar_t* path,
                 unsigned flags,
                 const std::optional<std::wstring>& valueName) {
  support::unique_file handle(::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  THROW_LAST_ERROR_IF(!handle);
  BYTE bom[2] = {};
  DWORD got = 0;
  THROW_LAST_ERROR_IF(!::ReadFile(handle.get(), bom, 2, &got, nullptr));
  DWORD written = 0;
  if (got != 2 || bom[0] != 0xFF || bom[1] != 0xFE) {
    // Not ours (or empty): start the file anew.
    THROW_LAST_ERROR_IF(::SetFilePointer(handle.get(), 0, nullptr, FILE_BEGIN) ==
                        INVALID_SET_FILE_POINTER);
    THROW_LAST_ERROR_IF(!::SetEndOfFile(handle.get()));
    static const BYTE kBom[2] = {0xFF, 0xFE};
    THROW_LAST_ERROR_IF(!::WriteFile(handle.get(), kBom, 2, &written, nullptr));
  }
  const std::wstring line = cleanup_line(
      root, path, flags, valueName ? std::optional<std::wstring_view>(*valueName) : std::nullopt);
  LARGE_INTEGER zero{};
  THROW_LAST_ERROR_IF(!::SetFilePointerEx(handle.get(), zero, nullptr, FILE_END));
  THROW_LAST_ERROR_IF(!::WriteFile(handle.get(), line.data(),
                                   static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
                                   nullptr));
}

}  // namespace

}  // namespace plugin
