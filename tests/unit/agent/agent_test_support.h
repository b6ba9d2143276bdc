// Test aids for the agent link: the agent stand-in as a child process, its
// log, the trace's notices, and a count of the process's open handles.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"

namespace agenttest {

// The trace's errors and messages since the last look, without the entry and
// exit records (test programs built TRACED only).
inline std::vector<std::string> notices() {
  std::vector<std::string> out;
  for (auto& line : testsupport::new_trace_lines())
    if (line[0] == 'E' || line[0] == 'U')
      out.push_back(line);
  return out;
}

// The number of open handles of this process: GetProcessHandleCount where it
// answers, else every handle value that the system accepts as a handle.
std::size_t handle_count();

// The agent stand-in, started with a log and a ready event; stopped (and its
// log deleted) when the object goes.
class agent_process_t {
 public:
  explicit agent_process_t(const std::vector<std::wstring>& arguments = {});
  ~agent_process_t();
  agent_process_t(const agent_process_t&) = delete;
  agent_process_t& operator=(const agent_process_t&) = delete;

  // True once the agent serves requests; false when it ended first.
  bool ready() const { return m_ready; }
  HWND window() const;
  // The log lines written so far that begin with `prefix`.
  std::vector<std::string> log_lines(std::string_view prefix = {}) const;
  // A message round trip with the agent's window: whatever the agent was
  // doing when it was called is done when this returns.
  bool sync() const;
  // Waits for the agent to end (it was told to die) and gives its exit code.
  DWORD wait_for_exit() const;
  // Asks the agent to close; ends it when it does not.
  void stop();
  // Ends it at once (a stalled agent).
  void kill();

 private:
  PROCESS_INFORMATION m_process{};
  std::wstring m_log;
  bool m_ready = false;
};

}  // namespace agenttest
