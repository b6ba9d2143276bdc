// A second process for the protected-storage tests, using the stand-in beside
// it on a store named on the command line:
//   protected_storage_child commit-loop <store> <tag> <count>
//     <count> rounds of: a reference "<tag>-<i>" committed on its own, then
//     the line "<tag>-<i>" appended to the profile text in a transaction.
//   protected_storage_child save-then-die <store> <text>
//     stages a text and a reference, then ends without committing.
//   protected_storage_child crash-in-commit <store> <text>
//     stages a text and commits it with the stand-in told to end the process
//     between writing the new file and moving it into place.
// Exit code 0 on success; a failing step exits with its line number.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "suite/include/pstore_api.h"

namespace {

template <typename Fn>
Fn entry(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

#define CHECK(expr)            \
  do {                         \
    if (!(expr))               \
      ::ExitProcess(__LINE__); \
  } while (0)

std::wstring library_path() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"CvoPS.dll";
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  CHECK(argv != nullptr && argc >= 4);
  const std::wstring mode = argv[1];
  const std::wstring store = argv[2];
  const std::wstring argument = argv[3];

  const HMODULE module = ::LoadLibraryW(library_path().c_str());
  CHECK(module != nullptr);
  const auto init = entry<CVOPSInitWithData_fn>(module, "CVOPSInitWithData");
  const auto term = entry<CVOPSTerm_fn>(module, "CVOPSTerm");
  const auto query = entry<CVOPSQuery_fn>(module, "CVOPSQuery");
  const auto save = entry<CVOPSSave_fn>(module, "CVOPSSave");
  const auto commit = entry<CVOPSCommit_fn>(module, "CVOPSCommit");
  const auto set_reference = entry<CVOPSSetReference_fn>(module, "CVOPSSetReference");
  const auto begin = entry<CVOPSBeginTransaction_fn>(module, "CVOPSBeginTransaction");
  const auto end = entry<CVOPSEndTransaction_fn>(module, "CVOPSEndTransaction");
  CHECK(init && term && query && save && commit && set_reference && begin && end);

  DWORD handle = 0;
  if (mode == L"commit-loop") {
    CHECK(argc == 5);
    const int count = std::stoi(argv[4]);
    for (int round = 0; round < count; ++round) {
      const std::wstring line = argument + L"-" + std::to_wstring(round);
      CHECK(SUCCEEDED(init(CVOPS_VERSION, &handle, CVOPS_ACCESS_READWRITE, store.c_str())));
      CHECK(SUCCEEDED(set_reference(handle, line.c_str(), (L"value of " + line).c_str())));
      CHECK(SUCCEEDED(commit(handle)));
      CHECK(SUCCEEDED(begin(handle)));
      LPWSTR text = nullptr;
      CHECK(SUCCEEDED(query(handle, nullptr, &text)));
      const std::wstring changed = std::wstring(text) + line + L"\n";
      ::CoTaskMemFree(text);
      CHECK(SUCCEEDED(save(handle, changed.c_str())));
      CHECK(SUCCEEDED(end(handle, CVOPS_END_COMMIT)));
      CHECK(SUCCEEDED(term(handle, CVOPS_TERM_DISCARD)));
    }
    return 0;
  }
  CHECK(SUCCEEDED(init(CVOPS_VERSION, &handle, CVOPS_ACCESS_READWRITE, store.c_str())));
  CHECK(SUCCEEDED(save(handle, argument.c_str())));
  CHECK(SUCCEEDED(set_reference(handle, L"staged", argument.c_str())));
  if (mode == L"save-then-die")
    ::TerminateProcess(::GetCurrentProcess(), 66);
  if (mode == L"crash-in-commit") {
    ::SetEnvironmentVariableW(L"CVOPS_STANDIN_CRASH_BEFORE_REPLACE", L"77");
    commit(handle);
  }
  return 1;
}
