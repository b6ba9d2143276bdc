#include "agent/training_launch.h"

#include <cstdint>
#include <cstdio>

#include "support/hresult.h"
#include "tracing/trace.h"

namespace agent {
namespace {

std::wstring in_folder(std::wstring_view folder, std::wstring_view file) {
  std::wstring path(folder);
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
    path += L'\\';
  return path + std::wstring(file);
}

}  // namespace

std::wstring quoted_command_line(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument.find(L'"') != std::wstring::npos)
      THROW_HR(E_INVALIDARG);
    std::size_t trailing = 0;
    while (trailing < argument.size() && argument[argument.size() - 1 - trailing] == L'\\')
      ++trailing;
    line += L'"';
    line += argument;
    line.append(trailing, L'\\');
    line += L'"';
    if (i + 1 < arguments.size())
      line += L' ';
  }
  return line;
}

std::vector<std::wstring> training_values(HWND notification_window) {
  wchar_t handle[16];
  std::swprintf(handle, 16, L"0x%08X",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(notification_window)));
  return {handle};
}

std::wstring training_command_line(std::wstring_view component_folder, HWND notification_window) {
  std::vector<std::wstring> arguments = {in_folder(component_folder, kRunDllName),
                                         in_folder(component_folder, kTrainingLibrary),
                                         kStartMonitorEntry};
  for (std::wstring& value : training_values(notification_window))
    arguments.push_back(std::move(value));
  return quoted_command_line(arguments);
}

support::unique_handle start_training(std::wstring_view component_folder,
                                      HWND notification_window) {
  tracecore::trace_scope scope("StartTrainingMonitor");
  const std::wstring program = in_folder(component_folder, kRunDllName);
  std::wstring command = training_command_line(component_folder, notification_window);
  tracecore::trace_text(command.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process)) {
    tracecore::trace_lasterror("CreateProcess");
    support::throw_last_error("CreateProcessW");
  }
  ::CloseHandle(process.hThread);
  return support::unique_handle(process.hProcess);
}

}  // namespace agent
