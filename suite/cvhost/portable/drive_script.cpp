#include "drive_script.h"

#include <cstddef>

namespace drive {

namespace {

struct token_t {
  std::string text;
  bool quoted = false;
};

// What each verb takes.
enum class shape_t {
  page,       // PAGE
  control,    // CONTROL
  list_item,  // LIST ITEM
  drag,       // LIST ITEM LIST ITEM
  keys,       // CONTROL KEY...
  number,     // N
  box,        // BUTTON [TEXT]
  none,
  wait_text,  // CONTROL TEXT [MS]
  wait_rows,  // LIST COUNT [MS]
  list,       // LIST
  file,       // FILE
  notify,     // CONTROL CODE RESULT
};

struct verb_entry_t {
  std::string_view name;
  verb_t verb;
  shape_t shape;
  std::uint32_t max_number;
};

constexpr std::uint32_t kMaxMs = 600000;

constexpr verb_entry_t kVerbs[] = {
    {"page", verb_t::page, shape_t::page, 0},
    {"tab", verb_t::tab, shape_t::control, 0},
    {"click", verb_t::click, shape_t::control, 0},
    {"select", verb_t::select, shape_t::list_item, 0},
    {"dblclick", verb_t::dblclick, shape_t::list_item, 0},
    {"rclick", verb_t::rclick, shape_t::list_item, 0},
    {"keys", verb_t::keys, shape_t::keys, 0},
    {"drag", verb_t::drag, shape_t::drag, 0},
    {"menu", verb_t::menu, shape_t::number, 0xFFFF},
    {"box", verb_t::box, shape_t::box, 0},
    {"apply", verb_t::apply, shape_t::none, 0},
    {"ok", verb_t::ok, shape_t::none, 0},
    {"cancel", verb_t::cancel, shape_t::none, 0},
    {"wait-text", verb_t::wait_text, shape_t::wait_text, 0},
    {"wait-rows", verb_t::wait_rows, shape_t::wait_rows, 1000000},
    {"rows", verb_t::rows, shape_t::list, 0},
    {"controls", verb_t::controls, shape_t::none, 0},
    {"focus-order", verb_t::focus_order, shape_t::none, 0},
    {"focus", verb_t::focus, shape_t::none, 0},
    {"screenshot", verb_t::screenshot, shape_t::file, 0},
    {"screenshot-box", verb_t::screenshot_box, shape_t::file, 0},
    {"answer-notify", verb_t::answer_notify, shape_t::notify, 0xFFFF},
    {"sleep", verb_t::sleep, shape_t::number, kMaxMs},
};

struct key_name_t {
  std::string_view name;
  std::uint16_t key;
};

constexpr key_name_t kKeyNames[] = {
    {"backspace", 0x08}, {"tab", 0x09},   {"enter", 0x0D},  {"return", 0x0D},   {"escape", 0x1B},
    {"esc", 0x1B},       {"space", 0x20}, {"pageup", 0x21}, {"pagedown", 0x22}, {"end", 0x23},
    {"home", 0x24},      {"left", 0x25},  {"up", 0x26},     {"right", 0x27},    {"down", 0x28},
    {"insert", 0x2D},    {"ins", 0x2D},   {"delete", 0x2E}, {"del", 0x2E},      {"apps", 0x5D},
};

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

bool all_digits(std::string_view text) {
  if (text.empty() || text.size() > 9)
    return false;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return false;
  }
  return true;
}

std::uint32_t digits_value(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text)
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  return value;
}

// Splits a line into tokens; a '#' that starts a token outside quotes and is not
// followed by a digit starts a comment.
std::vector<token_t> tokenize(std::string_view line, int line_number) {
  std::vector<token_t> tokens;
  std::size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (i < line.size()) {
    if (blank(line[i])) {
      ++i;
      continue;
    }
    if (line[i] == '#' && (i + 1 >= line.size() || line[i + 1] < '0' || line[i + 1] > '9'))
      break;
    token_t token;
    if (line[i] == '"') {
      token.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\'))
          token.text.push_back(line[i++]);
        else
          token.text.push_back(c);
      }
      if (!closed)
        throw script_error(line_number, "a quoted text is not closed");
      if (i < line.size() && !blank(line[i]))
        throw script_error(line_number, "a quoted text must be followed by a blank");
    } else {
      while (i < line.size() && !blank(line[i])) {
        if (line[i] == '"')
          throw script_error(line_number, "a quote inside a word");
        token.text.push_back(line[i++]);
      }
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

class step_reader_t {
 public:
  step_reader_t(std::vector<token_t> tokens, int line)
      : m_tokens(std::move(tokens)), m_line(line) {}

  [[noreturn]] void fail(const std::string& message) const { throw script_error(m_line, message); }

  bool more() const { return m_next < m_tokens.size(); }
  std::size_t left() const { return m_tokens.size() - m_next; }

  const token_t& take(const char* what) {
    if (!more())
      fail(std::string("missing ") + what);
    return m_tokens[m_next++];
  }

  target_t target(const char* what, bool ids, bool indexes, bool focus, bool texts) {
    const token_t& token = take(what);
    target_t target;
    const std::string_view text = token.text;
    if (!token.quoted && text.size() > 1 && (text[0] == '#' || text[0] == '@')) {
      const bool id = text[0] == '#';
      if (!all_digits(text.substr(1)))
        fail(std::string(what) + ": \"" + token.text + "\" is not " + (id ? "#ID" : "@INDEX"));
      if (id ? !ids : !indexes)
        fail(std::string(what) + " cannot be given " + (id ? "by id" : "by index"));
      target.kind = id ? target_t::kind_t::id : target_t::kind_t::index;
      target.number = digits_value(text.substr(1));
      if (id && target.number > 0xFFFF)
        fail(std::string(what) + ": control id out of range");
      return target;
    }
    if (!token.quoted && text == "focus") {
      if (!focus)
        fail(std::string(what) + " cannot be the focus");
      target.kind = target_t::kind_t::focus;
      return target;
    }
    if (!texts)
      fail(std::string(what) + " must be #ID" + (indexes ? " or @INDEX" : "") +
           (focus ? " or focus" : ""));
    if (text.empty())
      fail(std::string(what) + " is empty");
    target.text = token.text;
    return target;
  }

  std::uint32_t number(const char* what, std::uint32_t max) {
    const token_t& token = take(what);
    if (token.quoted || !all_digits(token.text) || digits_value(token.text) > max)
      fail(std::string(what) + " must be a number from 0 to " + std::to_string(max) + ": \"" +
           token.text + "\"");
    return digits_value(token.text);
  }

  void end() const {
    if (more())
      fail("too many arguments (\"" + m_tokens[m_next].text + "\")");
  }

 private:
  std::vector<token_t> m_tokens;
  std::size_t m_next = 0;
  int m_line;
};

key_t read_key(const token_t& token, int line) {
  key_t key;
  if (token.quoted) {
    if (token.text.empty())
      throw script_error(line, "an empty text to type");
    key.is_text = true;
    key.text = token.text;
    return key;
  }
  if (!parse_chord(token.text, key))
    throw script_error(line, "\"" + token.text + "\" is not a key");
  return key;
}

step_t read_step(std::vector<token_t> tokens, int line) {
  const std::string name = tokens.front().text;
  const verb_entry_t* entry = nullptr;
  for (const verb_entry_t& candidate : kVerbs) {
    if (!tokens.front().quoted && candidate.name == name)
      entry = &candidate;
  }
  if (entry == nullptr)
    throw script_error(line, "unknown step \"" + name + "\"");
  step_t step;
  step.verb = entry->verb;
  step.line = line;
  step.name = name;
  step_reader_t in(std::move(tokens), line);
  in.take("step");
  switch (entry->shape) {
    case shape_t::page:
      step.targets.push_back(in.target("PAGE", false, true, false, true));
      break;
    case shape_t::control:
      step.targets.push_back(in.target("CONTROL", true, false, false, true));
      break;
    case shape_t::list_item:
      step.targets.push_back(in.target("LIST", true, true, false, false));
      step.targets.push_back(in.target("ITEM", false, true, false, true));
      break;
    case shape_t::drag:
      for (int i = 0; i < 2; ++i) {
        step.targets.push_back(in.target("LIST", true, true, false, false));
        step.targets.push_back(in.target("ITEM", false, true, false, true));
      }
      break;
    case shape_t::keys:
      step.targets.push_back(in.target("CONTROL", true, false, true, false));
      if (!in.more())
        in.fail("missing KEY");
      while (in.more())
        step.keys.push_back(read_key(in.take("KEY"), line));
      break;
    case shape_t::number:
      step.number = in.number(entry->verb == verb_t::menu ? "COMMAND" : "MS", entry->max_number);
      break;
    case shape_t::box:
      step.targets.push_back(in.target("BUTTON", true, false, false, true));
      if (in.more()) {
        step.has_text = true;
        step.text = in.take("TEXT").text;
      }
      break;
    case shape_t::none:
      break;
    case shape_t::wait_text:
      step.targets.push_back(in.target("CONTROL", true, false, true, false));
      step.has_text = true;
      step.text = in.take("TEXT").text;
      step.timeout_ms = in.more() ? in.number("MS", kMaxMs) : kDefaultWaitMs;
      break;
    case shape_t::wait_rows:
      step.targets.push_back(in.target("LIST", true, true, false, false));
      step.number = in.number("COUNT", entry->max_number);
      step.timeout_ms = in.more() ? in.number("MS", kMaxMs) : kDefaultWaitMs;
      break;
    case shape_t::list:
      step.targets.push_back(in.target("LIST", true, true, false, false));
      break;
    case shape_t::file:
      step.text = in.take("FILE").text;
      if (step.text.empty())
        in.fail("FILE is empty");
      break;
    case shape_t::notify:
      step.targets.push_back(in.target("CONTROL", true, false, false, false));
      step.number = in.number("CODE", entry->max_number);
      step.answer = in.number("RESULT", 0xFFFF);
      break;
  }
  in.end();
  return step;
}

}  // namespace

bool parse_chord(std::string_view text, key_t& key) {
  key_t result;
  bool have_key = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t plus = text.find('+', start);
    const std::string_view part =
        text.substr(start, plus == std::string_view::npos ? std::string_view::npos : plus - start);
    start = plus == std::string_view::npos ? text.size() + 1 : plus + 1;
    if (part.empty())
      return false;
    std::uint8_t modifier = 0;
    if (equal_nocase(part, "ctrl"))
      modifier = kCtrl;
    else if (equal_nocase(part, "shift"))
      modifier = kShift;
    else if (equal_nocase(part, "alt"))
      modifier = kAlt;
    else if (equal_nocase(part, "win"))
      modifier = kWin;
    if (modifier != 0) {
      if ((result.modifiers & modifier) || have_key)
        return false;  // twice, or after the key
      result.modifiers |= modifier;
      continue;
    }
    if (have_key)
      return false;
    have_key = true;
    const char c = lower(part[0]);
    if (part.size() == 1 && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
      result.key = static_cast<std::uint16_t>(c >= 'a' ? c - 'a' + 'A' : c);
      continue;
    }
    if (c == 'f' && part.size() <= 3 && all_digits(part.substr(1))) {
      const std::uint32_t n = digits_value(part.substr(1));
      if (n < 1 || n > 24)
        return false;
      result.key = static_cast<std::uint16_t>(0x70 + n - 1);
      continue;
    }
    bool known = false;
    for (const key_name_t& name : kKeyNames) {
      if (equal_nocase(part, name.name)) {
        result.key = name.key;
        known = true;
      }
    }
    if (!known)
      return false;
  }
  if (!have_key && result.modifiers == 0)
    return false;
  key = result;
  return true;
}

std::vector<step_t> parse_script(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF")
    text.remove_prefix(3);
  std::vector<step_t> steps;
  int line_number = 0;
  int closed_at = 0;  // the line of an ok or cancel step
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
      end = text.size();
    const std::string_view line = text.substr(start, end - start);
    ++line_number;
    // "\r\n" is one line end.
    start = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    if (line.find('\0') != std::string_view::npos)
      throw script_error(line_number, "a NUL character");
    std::vector<token_t> tokens = tokenize(line, line_number);
    if (tokens.empty())
      continue;
    if (closed_at != 0)
      throw script_error(line_number, "nothing can follow the step on line " +
                                          std::to_string(closed_at) + ", which closes the sheet");
    steps.push_back(read_step(std::move(tokens), line_number));
    if (steps.back().verb == verb_t::ok || steps.back().verb == verb_t::cancel)
      closed_at = line_number;
  }
  return steps;
}

}  // namespace drive
