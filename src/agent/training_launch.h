// Starting the training monitor: the notification window's answer to a page
// that asks to train a new logon. The monitor runs in its own process, the
// suite's host "CvRunDll.exe" running "dll_function_startmonitor" of the
// training component "CvUTrain.dll", both from the component folder:
//
//   "<folder>CvRunDll.exe" "<folder>CvUTrain.dll" "dll_function_startmonitor" "0x0001002A"
//
//   agent::start_training(templates::component_folder(), m_hWnd);  // raises on failure
//
// The value after the entry point is the notification window (as "0x%08X"),
// which the monitor brings to the front when the user has finished.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/unique_any.h"

namespace agent {

inline constexpr wchar_t kRunDllName[] = L"CvRunDll.exe";
inline constexpr wchar_t kTrainingLibrary[] = L"CvUTrain.dll";
inline constexpr wchar_t kStartMonitorEntry[] = L"dll_function_startmonitor";

// Every argument in double quotes, each followed by a space except the last.
// Backslashes that end an argument are doubled so that they do not escape its
// closing quote; an argument holding a double quote cannot be written and
// raises support::hresult_error(E_INVALIDARG).
std::wstring quoted_command_line(const std::vector<std::wstring>& arguments);

// The values the notification window hands to the monitor: its own handle as
// "0x%08X".
std::vector<std::wstring> training_values(HWND notification_window);

// The monitor's command line for a component folder (with or without its
// trailing backslash).
std::wstring training_command_line(std::wstring_view component_folder, HWND notification_window);

// Starts the monitor with normal priority and does not wait for it. Returns the
// process handle (callers that do not care let it go); a process that cannot
// be created raises support::hresult_error with the system's error, traced.
support::unique_handle start_training(std::wstring_view component_folder, HWND notification_window);

}  // namespace agent
