#include "templates/portable/caret.h"

namespace templates {
namespace {

template <typename Char>
bool name_is(std::basic_string_view<Char> name, const char* ascii) {
  std::size_t i = 0;
  for (; ascii[i] != '\0'; ++i) {
    if (i >= name.size() || name[i] != static_cast<Char>(ascii[i]))
      return false;
  }
  return i == name.size();
}

template <typename Char>
std::basic_string<Char> decode(std::basic_string_view<Char> text, bool extended) {
  std::basic_string<Char> out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const Char c = text[i];
    if (c != Char('^')) {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 == text.size()) {
      out.push_back(c);  // a final caret is kept
      break;
    }
    const std::size_t semicolon = text.find(Char(';'), i + 1);
    if (semicolon == std::basic_string_view<Char>::npos) {
      out.append(text.substr(i + 1));  // no name: the rest without the caret
      break;
    }
    const std::basic_string_view<Char> name = text.substr(i + 1, semicolon - i - 1);
    if (name_is(name, "up")) {
      out.push_back(Char('^'));
    } else if (name_is(name, "2dot")) {
      out.push_back(Char(':'));
    } else if (extended && name_is(name, "at")) {
      out.push_back(Char('@'));
    } else if (extended && name_is(name, "dot")) {
      out.push_back(Char('.'));
    } else {
      out.append(name);
      out.push_back(Char(';'));
    }
    i = semicolon + 1;
  }
  return out;
}

}  // namespace

std::string caret_decode(std::string_view text) {
  return decode(text, false);
}

std::wstring caret_decode(std::wstring_view text) {
  return decode(text, false);
}

std::string caret_decode_ext(std::string_view text) {
  return decode(text, true);
}

std::wstring caret_decode_ext(std::wstring_view text) {
  return decode(text, true);
}

}  // namespace templates
