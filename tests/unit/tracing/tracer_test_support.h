// Shared fixture of the tracer tests: a private registry root under HKCU, a
// private trace folder (no trailing backslash), a fake clock and helpers to
// decode the trace files.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/win_test_helpers.h"
#include "tools/tracereader/trace_reader.h"
#include "tracing/tracer.h"

namespace tracertest {

// 2027-01-15 08:00:00 UTC; DoTrace values are relative to it.
inline constexpr DWORD kNow = 1'800'000'000;
inline constexpr wchar_t kTracingKey[] = L"SOFTWARE\\Corvantis\\Tracing";
inline constexpr wchar_t kPendingKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
inline constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

inline SYSTEMTIME g_localTime{};
inline DWORD g_tick = 0;
inline std::int64_t g_seconds = kNow;

inline void WINAPI fake_local_time(SYSTEMTIME* t) {
  *t = g_localTime;
}
inline DWORD WINAPI fake_tick_count() {
  return g_tick;
}
inline std::int64_t fake_now_seconds() {
  return g_seconds;
}

// Sets the fake local time (the date stays unless given).
inline void at(WORD hour, WORD minute, WORD second, WORD ms, WORD day = 0, WORD month = 0) {
  if (day != 0)
    g_localTime.wDay = day;
  if (month != 0)
    g_localTime.wMonth = month;
  g_localTime.wHour = hour;
  g_localTime.wMinute = minute;
  g_localTime.wSecond = second;
  g_localTime.wMilliseconds = ms;
}

inline std::wstring lower(std::wstring text) {
  for (wchar_t& c : text)
    c = static_cast<wchar_t>(::towlower(c));
  return text;
}

inline DWORD session_id() {
  DWORD session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
  return session;
}

// The names scheduled for deletion at restart, in "\??\C:\..." form.
inline std::vector<std::wstring> read_pending_pairs() {
  std::vector<std::wstring> strings;
  DWORD size = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kPendingKey, kPendingValue, RRF_RT_REG_MULTI_SZ, nullptr,
                     nullptr, &size) != ERROR_SUCCESS)
    return strings;
  std::wstring data(size / sizeof(wchar_t), L'\0');
  ::RegGetValueW(HKEY_LOCAL_MACHINE, kPendingKey, kPendingValue, RRF_RT_REG_MULTI_SZ, nullptr,
                 data.data(), &size);
  for (std::size_t start = 0; start < data.size();) {
    const std::size_t end = std::min(data.find(L'\0', start), data.size());
    strings.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  if (strings.size() % 2 != 0)
    strings.pop_back();  // the list's closing empty string
  return strings;
}

// Removes the (source, target) pairs whose source lies in folder.
inline void drop_pending_under(const std::wstring& folder) {
  const std::vector<std::wstring> strings = read_pending_pairs();
  std::wstring kept;
  std::size_t dropped = 0;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
    if (lower(strings[i]).find(lower(folder)) != std::wstring::npos)
      ++dropped;
    else
      kept += strings[i] + L'\0' + strings[i + 1] + L'\0';
  }
  if (dropped == 0)
    return;
  if (kept.empty()) {
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPendingKey, kPendingValue);
  } else {
    kept += L'\0';
    testsupport::set_reg_value(HKEY_LOCAL_MACHINE, kPendingKey, kPendingValue, REG_MULTI_SZ,
                               kept.data(), static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
  }
}

class TracerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(m_root, nullptr);
    g_localTime = {2026, 3, 0, 7, 9, 0, 0, 0};
    g_tick = 100000;
    g_seconds = kNow;
    // Tracing on, one file per process, in the private folder.
    set_dword(L"DoTrace", 1);
    set_string(L"TracePath", m_folder);
  }

  void TearDown() override { drop_pending_under(m_folder); }

  // A key under the private root (created when missing); the caller closes it.
  HKEY key(const std::wstring& path) {
    HKEY key = nullptr;
    ::RegCreateKeyExW(m_root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
  }
  void set_dword(const wchar_t* name, DWORD value, const std::wstring& path = kTracingKey) {
    testsupport::set_reg_dword(m_root, path, name, value);
  }
  void set_string(const wchar_t* name,
                  const std::wstring& value,
                  const std::wstring& path = kTracingKey) {
    testsupport::set_reg_string(m_root, path, name, value);
  }
  void remove_value(const wchar_t* name) { ::RegDeleteKeyValueW(m_root, kTracingKey, name); }
  bool has_value(const wchar_t* name) {
    return ::RegGetValueW(m_root, kTracingKey, name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
  }

  tracecore::tracer_environment_t env(tracecore::process_flags_t& flags) {
    tracecore::tracer_environment_t env;
    env.machine_root = m_root;
    env.module = ::GetModuleHandleW(nullptr);
    env.local_time = &fake_local_time;
    env.tick_count = &fake_tick_count;
    env.now_seconds = &fake_now_seconds;
    env.flags = &flags;
    return env;
  }
  tracecore::tracer_environment_t env() { return env(m_flags); }

  // The composed trace file name in a folder (the private one unless given): pid 0
  // for the shared file.
  std::wstring trace_file(DWORD pid = ::GetCurrentProcessId(), std::wstring folder = {}) const {
    return (folder.empty() ? m_folder : folder) + L"\\tracer_tests.tracer_tests.exe." +
           std::to_wstring(session_id()) + L"." + std::to_wstring(pid) + L".trc3";
  }

  static std::string file_bytes(const std::wstring& path) { return testsupport::read_file(path); }

  static tracereader::TraceFile decode(const std::wstring& path) {
    const std::string bytes = file_bytes(path);
    tracereader::TraceFile file = tracereader::decode_trace(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), false);
    EXPECT_FALSE(file.failure) << file.failure->message();
    EXPECT_TRUE(file.header_complete);
    return file;
  }

  // Records as "type text" ("> Outer", "U hello", "<"), optionally without
  // the time stamps or restricted to one thread.
  static std::vector<std::string> summary(const std::vector<tracereader::TraceEntry>& entries,
                                          bool stamps = true,
                                          DWORD thread = 0) {
    std::vector<std::string> out;
    for (const auto& e : entries) {
      if ((!stamps && (e.type == 't' || e.type == 'T')) || (thread != 0 && e.thread_id != thread))
        continue;
      out.push_back(e.text.empty() ? std::string(1, e.type)
                                   : std::string(1, e.type) + " " + e.text);
    }
    return out;
  }
  std::vector<std::string> records(bool stamps = true, DWORD thread = 0) {
    return summary(decode(trace_file()).entries, stamps, thread);
  }

  const testsupport::scratch_key_t m_key{L"tracer"};
  const HKEY m_root = m_key.get();
  const testsupport::scratch_folder_t m_scratch;
  const std::wstring m_folder = m_scratch.path().substr(0, m_scratch.path().size() - 1);
  tracecore::process_flags_t m_flags;
};

}  // namespace tracertest
