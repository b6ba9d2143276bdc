// Fuzzes the console host's script reader: any text gives steps or a script
// error naming a line of the text, and every step keeps the shape of its verb.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "suite/cvhost/portable/drive_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t lines = 1;
  for (const char c : text)
    lines += c == '\n' || c == '\r';
  try {
    for (const drive::step_t& step : drive::parse_script(text)) {
      if (step.line < 1 || static_cast<std::size_t>(step.line) > lines)
        std::abort();
      if (step.verb == drive::verb_t::keys && (step.keys.empty() || step.targets.size() != 1))
        std::abort();
      if (step.verb == drive::verb_t::drag && step.targets.size() != 4)
        std::abort();
    }
  } catch (const drive::script_error& error) {
    if (error.line() < 1 || static_cast<std::size_t>(error.line()) > lines)
      std::abort();
  }
  return 0;
}
