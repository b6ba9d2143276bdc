#include "tests/unit/agent/agent_test_support.h"

#include <atomic>
#include <cstdint>
#include <sstream>

#include "agent/portable/channel_layout.h"
#include "agent/training_launch.h"

namespace agenttest {
namespace {

// Generous bounds for a loaded machine; no test measures them.
constexpr DWORD kStartWaitMs = 60000;
constexpr DWORD kStopWaitMs = 10000;

// A name no other test run uses.
std::wstring unique_name(const wchar_t* prefix) {
  static std::atomic<unsigned> counter{0};
  return std::wstring(prefix) + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
         std::to_wstring(::GetTickCount()) + L"_" + std::to_wstring(++counter);
}

}  // namespace

std::size_t handle_count() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
    return count;
  std::size_t probed = 0;
  for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
      ++probed;
  }
  return probed;
}

agent_process_t::agent_process_t(const std::vector<std::wstring>& arguments) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  m_log = std::wstring(temp) + unique_name(L"cvagent_log") + L".txt";
  const std::wstring ready_name = unique_name(L"cvagent_ready");
  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());

  std::vector<std::wstring> line = {testsupport::program_file(L"CVAgent.exe"), L"--log", m_log,
                                    L"--ready-event", ready_name};
  line.insert(line.end(), arguments.begin(), arguments.end());
  std::wstring command = agent::quoted_command_line(line);
  STARTUPINFOW startup{sizeof(startup)};
  if (ready && ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &m_process)) {
    const HANDLE waits[2] = {ready, m_process.hProcess};
    m_ready = ::WaitForMultipleObjects(2, waits, FALSE, kStartWaitMs) == WAIT_OBJECT_0;
  }
  if (ready)
    ::CloseHandle(ready);
}

agent_process_t::~agent_process_t() {
  stop();
  ::DeleteFileW(m_log.c_str());
}

HWND agent_process_t::window() const {
  return ::FindWindowExW(nullptr, nullptr, agent::kAgentWindowName, agent::kAgentWindowName);
}

std::vector<std::string> agent_process_t::log_lines(std::string_view prefix) const {
  std::vector<std::string> lines;
  HANDLE file = ::CreateFileW(m_log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return lines;
  std::string contents;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    contents.append(buffer, read);
  ::CloseHandle(file);
  std::istringstream in(contents);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0)
      lines.push_back(line);
  return lines;
}

bool agent_process_t::sync() const {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutW(window(), WM_NULL, 0, 0, SMTO_BLOCK, kStartWaitMs, &result) != 0;
}

DWORD agent_process_t::wait_for_exit() const {
  DWORD code = STILL_ACTIVE;
  if (m_process.hProcess &&
      ::WaitForSingleObject(m_process.hProcess, kStartWaitMs) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(m_process.hProcess, &code);
  return code;
}

void agent_process_t::stop() {
  if (!m_process.hProcess)
    return;
  if (::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
    if (HWND agent = window())
      ::PostMessageW(agent, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(m_process.hProcess, kStopWaitMs) != WAIT_OBJECT_0)
      ::TerminateProcess(m_process.hProcess, 1);
    ::WaitForSingleObject(m_process.hProcess, kStopWaitMs);
  }
  ::CloseHandle(m_process.hThread);
  ::CloseHandle(m_process.hProcess);
  m_process = {};
}

void agent_process_t::kill() {
  if (m_process.hProcess && ::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(m_process.hProcess, 1);
    ::WaitForSingleObject(m_process.hProcess, kStopWaitMs);
  }
  stop();
}

}  // namespace agenttest
