#include "suite/agent/agent_options.h"

#include <cwchar>
#include <string_view>

namespace cvagent {

const char kUsage[] =
    "CVAgent [options]               the resident agent: window, channel, lookup cache\n"
    "  --log FILE                    append what arrives and what is done to FILE\n"
    "  --ready-event NAME            set the named event once requests are served\n"
    "  --local-folder DIR            the user's own template folder (instead of the settings)\n"
    "  --folder DIR                  another template folder (repeatable; instead of settings)\n"
    "  --stall-ms N                  hold every request N ms before acknowledging it\n"
    "  --die-on-request              exit (code 0xDEAD) after reading a request, unacknowledged\n"
    "  --keep-payload                keep the last payload mapping open after answering\n"
    "CVAgent --save-logon TEMPLATE_ID [--profile NAME] [--profile-index N] [--form-index N]\n"
    "        [--age-days N] [--item [DBNAME:]NAME=VALUE]...\n"
    "                                leave a saved logon in the shared storage (updated N\n"
    "                                days ago), broadcast WM_CV_PSTORAGE_UPDATED and exit\n"
    "CVAgent --notify NAME           broadcast the registered message NAME and exit\n"
    "CVAgent --notify-data-changed   post WM_USER + 303 to the \"CV_LocalAgentDS\" window, exit\n";

namespace {

int parse_int(const std::wstring& text, const char* option) {
  wchar_t* end = nullptr;
  const long value = std::wcstol(text.c_str(), &end, 10);
  if (text.empty() || *end != L'\0' || value < 0 || value > 0x7FFFFFFF)
    throw usage_error(std::string("bad number for ") + option);
  return static_cast<int>(value);
}

}  // namespace

options_t parse_options(int argc, const wchar_t* const* argv) {
  options_t options;
  saved_logon_t logon;
  bool saving = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view option = argv[i];
    auto value = [&](const char* name) -> std::wstring {
      if (i + 1 >= argc)
        throw usage_error(std::string(name) + " needs a value");
      return argv[++i];
    };
    if (option == L"--log") {
      options.log_file = value("--log");
    } else if (option == L"--ready-event") {
      options.ready_event = value("--ready-event");
    } else if (option == L"--local-folder") {
      options.local_folder = value("--local-folder");
      options.folders_given = true;
    } else if (option == L"--folder") {
      options.folders.push_back(value("--folder"));
      options.folders_given = true;
    } else if (option == L"--stall-ms") {
      options.stall_ms = static_cast<DWORD>(parse_int(value("--stall-ms"), "--stall-ms"));
    } else if (option == L"--die-on-request") {
      options.die_on_request = true;
    } else if (option == L"--keep-payload") {
      options.keep_payload = true;
    } else if (option == L"--save-logon") {
      saving = true;
      logon.template_id = value("--save-logon");
    } else if (option == L"--notify") {
      options.notify = value("--notify");
    } else if (option == L"--notify-data-changed") {
      options.notify_data_changed = true;
    } else if (option == L"--profile") {
      logon.profile_name = value("--profile");
    } else if (option == L"--profile-index") {
      logon.profile_index = parse_int(value("--profile-index"), "--profile-index");
    } else if (option == L"--form-index") {
      logon.form_index = parse_int(value("--form-index"), "--form-index");
    } else if (option == L"--age-days") {
      logon.age_days = static_cast<unsigned>(parse_int(value("--age-days"), "--age-days"));
    } else if (option == L"--item") {
      const std::wstring item = value("--item");
      const auto equals = item.find(L'=');
      if (equals == std::wstring::npos || equals == 0)
        throw usage_error("--item takes [DBNAME:]NAME=VALUE");
      const auto colon = item.substr(0, equals).find(L':');
      saved_logon_t::item_t entry;
      if (colon != std::wstring::npos)
        entry.dbname.assign(item.begin(), item.begin() + static_cast<std::ptrdiff_t>(colon));
      entry.display_name = item.substr(colon == std::wstring::npos ? 0 : colon + 1,
                                       equals - (colon == std::wstring::npos ? 0 : colon + 1));
      entry.value = item.substr(equals + 1);
      logon.items.push_back(std::move(entry));
    } else if (option == L"--help" || option == L"-h" || option == L"/?") {
      options.help = true;
    } else {
      throw usage_error("unknown option");
    }
  }
  if (saving)
    options.save_logon = std::move(logon);
  else if (!logon.profile_name.empty() || !logon.items.empty())
    throw usage_error("--profile and --item belong to --save-logon");
  return options;
}

}  // namespace cvagent
