// The agent stand-in's command line.
#pragma once

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cvagent {

// A saved logon to act out: the profile record the browser side would leave.
struct saved_logon_t {
  std::wstring template_id;
  std::wstring profile_name;
  int profile_index = 0;
  int form_index = 0;
  unsigned age_days = 0;  // the update date lies this many days back
  struct item_t {
    std::string dbname;  // the template field it fills (may be empty)
    std::wstring display_name;
    std::wstring value;
  };
  std::vector<item_t> items;
};

struct options_t {
  std::optional<std::wstring> log_file;     // else standard output
  std::optional<std::wstring> ready_event;  // set once the agent serves
  // Template folders instead of the settings: the user's own storage folder
  // and any number of others.
  std::optional<std::wstring> local_folder;
  std::vector<std::wstring> folders;
  bool folders_given = false;
  // Fault injection for every request, after it was read and logged.
  DWORD stall_ms = 0;
  bool die_on_request = false;
  // Keeps the payload mapping of the last type-2 request open after answering
  // it, as an agent that is slow to let go would.
  bool keep_payload = false;
  // One-shot mode: leave a saved logon in the shared storage, broadcast, exit.
  std::optional<saved_logon_t> save_logon;
  // One-shot mode: broadcast this registered message, exit.
  std::optional<std::wstring> notify;
  // One-shot mode: post WM_USER + 303 to the notification window, exit.
  bool notify_data_changed = false;
  bool help = false;
};

class usage_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws usage_error for a command line it does not understand.
options_t parse_options(int argc, const wchar_t* const* argv);

extern const char kUsage[];

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitAlreadyRunning = 3;
inline constexpr int kExitSetupFailed = 4;
inline constexpr int kExitDiedOnRequest = 0xDEAD;

}  // namespace cvagent
