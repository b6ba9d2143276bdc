// Caret escapes of captions and stored names: "^name;" sequences.
//
//   caret_decode("Inbox ^2dot; mail^up;x")     -> "Inbox : mail^x"
//   caret_decode_ext("john^at;example^dot;com") -> "john@example.com"
#pragma once

#include <string>
#include <string_view>

namespace templates {

// "^up;" gives '^' and "^2dot;" gives ':'. Any other "^name;" gives "name;";
// a caret without a semicolon after it is dropped; a final caret stays.
std::string caret_decode(std::string_view text);
std::wstring caret_decode(std::wstring_view text);

// caret_decode that also turns "^at;" into '@' and "^dot;" into '.'.
std::string caret_decode_ext(std::string_view text);
std::wstring caret_decode_ext(std::wstring_view text);

}  // namespace templates
