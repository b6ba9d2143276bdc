// The script language of `cvhost drive`: one step per line, read into steps
// that the driver carries out on the property sheet (docs/console-host.md).
//
//   # comment
//   page "Settings"              choose a page by title (or @index)
//   keys #1022 Shift+Alt+F5      keys to a control
//   box Yes                      answer the next message box
//
// Tokens are separated by blanks; double quotes group a token and make it plain
// text ("\"" and "\\" inside quotes). Unquoted, "#N" names a control id, "@N" an
// index and "focus" the focused control; anything else is text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace drive {

enum class verb_t {
  page,
  tab,
  click,
  select,
  dblclick,
  rclick,
  keys,
  drag,
  menu,
  box,
  apply,
  ok,
  cancel,
  wait_text,
  wait_rows,
  rows,
  controls,
  focus_order,
  focus,
  screenshot,
  screenshot_box,
  answer_notify,
  sleep,
};

// Something a step points at: a window, a page, an item.
struct target_t {
  enum class kind_t { text, id, index, focus };
  kind_t kind = kind_t::text;
  std::string text;          // UTF-8, for kind text
  std::uint32_t number = 0;  // for id and index
};

// Modifier bits of a key chord (the bits of a hot key).
constexpr std::uint8_t kShift = 0x01;
constexpr std::uint8_t kCtrl = 0x02;
constexpr std::uint8_t kAlt = 0x04;
constexpr std::uint8_t kWin = 0x10;

// One token of a keys step: a chord ("Ctrl+Shift+F5", "Delete", "Ctrl+Win") or a
// text typed character by character.
struct key_t {
  bool is_text = false;
  std::string text;            // UTF-8, for texts
  std::uint16_t key = 0;       // virtual-key code; 0 for modifiers alone
  std::uint8_t modifiers = 0;  // kShift | kCtrl | kAlt | kWin
};

struct step_t {
  verb_t verb = verb_t::page;
  int line = 0;
  std::string name;               // the verb as written in the script
  std::vector<target_t> targets;  // in the order of the verb's arguments
  std::vector<key_t> keys;        // keys
  std::uint32_t number = 0;       // menu command, row count, sleep time, notification code
  std::uint32_t answer = 0;       // answer-notify: the answer
  std::uint32_t timeout_ms = 0;   // waits
  bool has_text = false;          // box: text to type; wait-text: the text
  std::string text;               // also the screenshot's file name
};

// A script that cannot be read: the line (1-based) and what is wrong there.
class script_error : public std::runtime_error {
 public:
  script_error(int line, const std::string& message)
      : std::runtime_error("line " + std::to_string(line) + ": " + message), m_line(line) {}
  int line() const noexcept { return m_line; }

 private:
  int m_line;
};

constexpr std::uint32_t kDefaultWaitMs = 5000;

// Reads a whole script (UTF-8, any line ends, an optional byte order mark).
// Throws script_error at the first line that is not understood.
std::vector<step_t> parse_script(std::string_view text);

// Reads one key chord such as "Ctrl+Shift+F5"; false when it is not one.
bool parse_chord(std::string_view text, key_t& key);

}  // namespace drive
