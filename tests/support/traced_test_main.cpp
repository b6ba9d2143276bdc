#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/traced_test_main.h"

namespace testsupport {
namespace {

constexpr wchar_t kTracingKey[] = L"SOFTWARE\\Corvantis\\Tracing";
constexpr wchar_t kChildVariable[] = L"CV_TRACED_TEST_FILE";
std::size_t g_seen = 0;

std::wstring own_trace_path() {
  wchar_t path[MAX_PATH] = L"";
  ::GetEnvironmentVariableW(kChildVariable, path, MAX_PATH);
  return path;
}

void set_value(HKEY key, const wchar_t* name, DWORD value) {
  ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Switches tracing on for the child, runs it, and removes the configuration.
int run_traced_child() {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring file =
      std::wstring(temp) + L"cvtest_" + std::to_wstring(::GetCurrentProcessId()) + L".trc3";
  ::DeleteFileW(file.c_str());
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTracingKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot write the tracing configuration\n");
    return 1;
  }
  set_value(key, L"DoTrace", 1);
  set_value(key, L"TraceToFile", 1);
  set_value(key, L"NewFileAlways", 1);
  ::RegSetValueExW(key, L"FileName", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                   static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  ::SetEnvironmentVariableW(kChildVariable, file.c_str());

  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION process{};
  std::wstring command_line = ::GetCommandLineW();
  DWORD exit_code = 1;
  if (::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &exit_code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  } else {
    std::fprintf(stderr, "cannot start the traced test process\n");
  }
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTracingKey);
  ::DeleteFileW(file.c_str());
  return static_cast<int>(exit_code);
}

}  // namespace

tracereader::TraceFile read_own_trace() {
  std::ifstream in(own_trace_path().c_str(), std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  return tracereader::decode_trace(bytes, true);
}

std::vector<std::string> new_trace_lines() {
  const auto trace = read_own_trace();
  std::vector<std::string> lines;
  for (std::size_t i = g_seen; i < trace.entries.size(); ++i) {
    const auto& entry = trace.entries[i];
    if (entry.type != 't' && entry.type != 'T')
      lines.push_back(std::string(1, entry.type) + " " + entry.function.str() + " " + entry.text);
  }
  g_seen = trace.entries.size();
  return lines;
}

}  // namespace testsupport

int main(int argc, char** argv) {
  if (testsupport::own_trace_path().empty())
    return testsupport::run_traced_child();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
