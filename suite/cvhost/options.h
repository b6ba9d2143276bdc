// The command line of the console host.
#pragma once

#include <windows.h>

#include <optional>
#include <set>
#include <string>

namespace cvhost {

enum class verb_t {
  status,
  disable_status,
  disable,
  enable,
  info,
  property,
  pages,
  show,
  backup,
  restore,
  drive,
};

// What property 14 of the page site answers.
enum class first_view_mode_t { text, integer, missing };

struct options_t {
  verb_t verb = verb_t::status;
  std::string verb_name;  // as typed, for the result lines
  LONG id = 0;            // info, property
  std::wstring file;      // backup, restore, drive (the script)

  std::wstring element = L"UserConsole";
  std::optional<std::wstring> plugin_path;  // instead of the registry lookup

  std::optional<std::wstring> kind;  // property 3; nullopt when it should fail
  first_view_mode_t first_view_mode = first_view_mode_t::text;
  std::wstring first_view_text = L"0";
  LONG first_view_number = 0;
  std::set<LONG> refused_orders;

  std::optional<UINT> close_after_ms;      // show
  std::optional<std::wstring> screenshot;  // show, with close_after_ms
  bool quiet = false;
  bool help = false;
};

// Throws host_error with kExitUsage when the command line is not understood.
options_t parse_options(int argc, const wchar_t* const* argv);

std::string usage_text();

}  // namespace cvhost
