#include "templates/portable/manifest_errors.h"

namespace errors {

std::string fileload_error::code_name(int code) {
  static const char* const kNames[] = {"undef",   "notfound", "noaccess",
                                       "badfile", "badcrc",   "nodll"};
  if (code >= 0 && code < static_cast<int>(sizeof(kNames) / sizeof(kNames[0])))
    return kNames[code];
  return "[" + std::to_string(code) + "]";
}

}  // namespace errors
