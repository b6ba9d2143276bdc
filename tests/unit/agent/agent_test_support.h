// Test aids for the agent link: the agent stand-in as a child process, its
// log, scratch folders, and a count of the process's open handles.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace agenttest {

// The folder of the test program (the agent and the suite libraries lie there).
std::wstring test_folder();
// A name no other test run uses.
std::wstring unique_name(const wchar_t* prefix);
// A new empty folder under the temporary folder, with a trailing backslash.
std::wstring new_temp_folder();
void remove_tree(const std::wstring& folder);
void write_file(const std::wstring& path, std::string_view contents);

// The number of open handles of this process: GetProcessHandleCount where it
// answers, else every handle value that the system accepts as a handle.
std::size_t handle_count();

std::string hex(std::span<const std::uint8_t> bytes);
// The entries of an access list as "A:0x00120001:S-1-5-11;..." (A allowed, L
// a mandatory label); "none" for no list or no entries.
std::string describe_acl(const ACL* acl);
std::string utf8(std::wstring_view text);

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
