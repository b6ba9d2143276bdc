#include "options.h"

#include <cerrno>
#include <cwchar>
#include <limits>
#include <vector>

#include "output.h"

namespace cvhost {

namespace {

struct verb_entry_t {
  const wchar_t* name;
  verb_t verb;
  bool takes_id;
  bool takes_file;
};

constexpr verb_entry_t kVerbs[] = {
    {L"status", verb_t::status, false, false},
    {L"disable-status", verb_t::disable_status, false, false},
    {L"disable", verb_t::disable, false, false},
    {L"enable", verb_t::enable, false, false},
    {L"info", verb_t::info, true, false},
    {L"property", verb_t::property, true, false},
    {L"pages", verb_t::pages, false, false},
    {L"show", verb_t::show, false, false},
    {L"backup", verb_t::backup, false, true},
    {L"restore", verb_t::restore, false, true},
    {L"drive", verb_t::drive, false, true},
};

[[noreturn]] void usage_error(const std::string& why) {
  throw host_error(kExitUsage, why + "\n" + usage_text());
}

// A whole decimal number, optionally negative, within the given range.
long long parse_number(const std::wstring& text, const char* what, long long low, long long high) {
  if (!text.empty()) {
    wchar_t* end = nullptr;
    errno = 0;
    const long long value = std::wcstoll(text.c_str(), &end, 10);
    if (errno == 0 && end == text.c_str() + text.size() && value >= low && value <= high &&
        text.front() != L' ' && text.front() != L'+')
      return value;
  }
  usage_error(std::string(what) + " is not a number in range: \"" + utf8(text) + "\"");
}

LONG parse_long(const std::wstring& text, const char* what) {
  return static_cast<LONG>(
      parse_number(text, what, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

}  // namespace

options_t parse_options(int argc, const wchar_t* const* argv) {
  options_t options;
  std::vector<std::wstring> positional;
  bool kind_given = false;
  bool no_kind = false;
  int first_view_choices = 0;

  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto value = [&]() -> std::wstring {
      if (i + 1 >= argc)
        usage_error("option " + utf8(arg) + " needs a value");
      return argv[++i];
    };
    if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
      options.help = true;
    } else if (arg == L"--element") {
      options.element = value();
      if (options.element.empty())
        usage_error("--element needs a name");
    } else if (arg == L"--plugin") {
      options.plugin_path = value();
    } else if (arg == L"--kind") {
      options.kind = value();
      kind_given = true;
    } else if (arg == L"--no-kind") {
      no_kind = true;
    } else if (arg == L"--first-view") {
      options.first_view_mode = first_view_mode_t::text;
      options.first_view_text = value();
      ++first_view_choices;
    } else if (arg == L"--no-first-view") {
      options.first_view_mode = first_view_mode_t::missing;
      ++first_view_choices;
    } else if (arg == L"--first-view-int") {
      options.first_view_mode = first_view_mode_t::integer;
      options.first_view_number = parse_long(value(), "--first-view-int");
      ++first_view_choices;
    } else if (arg == L"--refuse-page") {
      options.refused_orders.insert(parse_long(value(), "--refuse-page"));
    } else if (arg == L"--close-after") {
      options.close_after_ms = static_cast<UINT>(
          parse_number(value(), "--close-after", 0, std::numeric_limits<LONG>::max()));
    } else if (arg == L"--screenshot") {
      options.screenshot = value();
    } else if (arg == L"--quiet") {
      options.quiet = true;
    } else if (arg.size() > 1 && arg.front() == L'-' && !(arg[1] >= L'0' && arg[1] <= L'9')) {
      // A negative number is an argument, not an option.
      usage_error("unknown option " + utf8(arg));
    } else {
      positional.push_back(arg);
    }
  }
  if (options.help)
    return options;

  if (kind_given && no_kind)
    usage_error("--kind and --no-kind exclude each other");
  if (first_view_choices > 1)
    usage_error("give at most one of --first-view, --first-view-int, --no-first-view");

  if (positional.empty())
    usage_error("no verb given");
  const verb_entry_t* entry = nullptr;
  for (const verb_entry_t& candidate : kVerbs) {
    if (positional.front() == candidate.name)
      entry = &candidate;
  }
  if (entry == nullptr)
    usage_error("unknown verb " + utf8(positional.front()));
  options.verb = entry->verb;
  options.verb_name = utf8(entry->name);

  const size_t arguments = (entry->takes_id || entry->takes_file) ? 1 : 0;
  if (positional.size() - 1 != arguments) {
    usage_error(arguments ? "verb " + options.verb_name + " takes one argument"
                          : "verb " + options.verb_name + " takes no argument");
  }
  if (entry->takes_id)
    options.id = parse_long(positional[1], "ID");
  if (entry->takes_file) {
    options.file = positional[1];
    if (options.file.empty())
      usage_error("verb " + options.verb_name + " needs a file name");
  }

  if (options.verb != verb_t::show && (options.close_after_ms || options.screenshot))
    usage_error("--close-after and --screenshot belong to the verb show");
  if (options.screenshot && !options.close_after_ms)
    usage_error("--screenshot needs --close-after (the picture is taken just before closing)");

  if (no_kind) {
    options.kind.reset();
  } else if (!kind_given) {
    // The host kind follows the element; the two console elements have their
    // own names, any other element reports itself.
    if (::CompareStringOrdinal(options.element.c_str(), -1, L"UserConsole", -1, TRUE) == CSTR_EQUAL)
      options.kind = L"UserConsole";
    else if (::CompareStringOrdinal(options.element.c_str(), -1, L"DashBoard", -1, TRUE) ==
             CSTR_EQUAL)
      options.kind = L"DashBoard";
    else
      options.kind = options.element;
  }
  return options;
}

std::string usage_text() {
  return R"(usage: cvhost [options] VERB [ARGUMENT]
verbs:
  status              security status of the plug-in
  disable-status      enabled/disabled state
  disable | enable    switch the plug-in off or on locally
  info ID             plug-in information ID
  property ID         element property ID
  pages               ask for the property pages and list them
  show                show the property pages in a property sheet
  backup FILE         write the plug-in's storage data to FILE
  restore FILE        hand the bytes of FILE to the plug-in
  drive SCRIPT        show the pages and carry out the steps of SCRIPT on them
options:
  --element NAME      host element (default UserConsole)
  --plugin PATH       load PATH instead of looking the element up in the registry
  --kind TEXT         host kind answered for property 3
  --no-kind           property 3 fails (E_FAIL)
  --first-view TEXT   first view answered for property 14 (default "0")
  --first-view-int N  property 14 answers the number N (VT_I4)
  --no-first-view     property 14 fails (E_INVALIDARG)
  --refuse-page ORDER refuse the page of that order (repeatable)
  --close-after MS    show: close the sheet after MS milliseconds
  --screenshot FILE   show: save a picture of the sheet (.bmp) before closing it
  --quiet             no "addpage:" lines and no notes on stderr
  --help              this text)";
}

}  // namespace cvhost
