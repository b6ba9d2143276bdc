// When an expired "DoTrace" switch has been removed, the trace files it left
// are deleted at the next restart (they may still be open in other processes).
#include <windows.h>

#include <string>
#include <vector>

#include "tracing/output_storage.h"
#include "tracing/tracer_environment.h"

namespace tracecore {
namespace {

// Shared by every process of the suite.
constexpr wchar_t kCleanupMutexName[] = L"{6C1F2A4E-9B37-4D52-A8E1-3F0C7D94B215}";

}  // namespace

void cleanup_old_trace_files(const tracer_environment_t& env,
                             const std::wstring& path,
                             bool dropped) {
  process_flags_t& flags = env.flags ? *env.flags : process_flags();
  if (flags.cleanup_done.exchange(true))
    return;
  support::unique_handle mutex(::CreateMutexW(nullptr, FALSE, kCleanupMutexName));
  if (mutex)
    ::WaitForSingleObject(mutex.get(), INFINITE);
  if (dropped) {
    const auto dot = path.find_last_of(L'.');
    const auto slash = path.find_last_of(L'\\');
    const std::wstring extension = dot == std::wstring::npos ? std::wstring() : path.substr(dot);
    const std::wstring folder =
        slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"*" + extension).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          files.push_back(folder + found.cFileName);
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    OSVERSIONINFOW version{sizeof(version)};
    const bool nt = ::GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    if (nt)
      for (const std::wstring& file : files)
        ::MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  if (mutex)
    ::ReleaseMutex(mutex.get());
}

}  // namespace tracecore
