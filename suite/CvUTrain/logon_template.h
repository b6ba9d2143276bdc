// Templates the training stand-in writes for the logons it is taught, and
// where they go.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace cvutrain {

// The folder of a loaded module, with a trailing backslash.
std::wstring module_folder(HMODULE module);

// Local time as "YYYY-MM-DD hh:mm:ss".
std::string now_text();

// The user's own template folder, with a trailing backslash: the environment
// variable CVUTRAIN_STANDIN_TEMPLATE_DIR (a test aid), else the setting
// "localstorage_dir" read through the settings library beside `self`, else
// %APPDATA%\Corvantis\Logons\.
std::wstring user_template_folder(HMODULE self);

// An address as the page to open: "https://" goes before an address without
// a scheme.
std::wstring page_address(std::wstring_view address);

// The text (UTF-8 XML) of a web logon template with one form: user name,
// password and a submit button.
std::string web_logon_template(std::wstring_view id,
                               std::wstring_view name,
                               std::wstring_view address,
                               std::string_view created);

struct written_template_t {
  std::wstring path;
  std::wstring id;
};

// Writes a new web logon template into `folder` (created when missing) under a
// file name made from the logon name that no file has yet. Raises
// support::hresult_error.
written_template_t write_web_logon_template(const std::wstring& folder,
                                            std::wstring_view name,
                                            std::wstring_view address);

}  // namespace cvutrain
