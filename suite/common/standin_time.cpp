#include "suite/common/standin_time.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace standin {

std::string update_date_text(unsigned age_days) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  std::uint64_t time = static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  time -= static_cast<std::uint64_t>(age_days) * 864000000000ull;
  char text[24];
  std::snprintf(text, sizeof text, "%08X %08X", static_cast<unsigned>(time >> 32),
                static_cast<unsigned>(time & 0xFFFFFFFFu));
  return text;
}

}  // namespace standin
