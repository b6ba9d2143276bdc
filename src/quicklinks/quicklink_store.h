// The user's quick-link file on disk: loading it through the setting
// "quicklink_filename", saving it by atomic replacement, and the traced
// QL::add / QL::del on wide texts.
//
//   QL::set_t links;
//   QL::load(links);                                   // empty set when no file
//   QL::add(links, L"https://mail.example/", L"Mail", 0, L"1234", path);
//   QL::save_if_modified(links);
#pragma once

#include <windows.h>

#include <string>

#include "quicklinks/portable/quicklink_file.h"

namespace QL {

// The system's answers for the format: a program file exists, environment
// references expanded, template paths in portable form, lines to the tracer.
const environment_t& system_environment();

// The setting "quicklink_filename"; empty when it can't be read.
std::wstring file_name();

// Clears the set and loads the file at `path` (a missing or unreadable file
// leaves it empty; what went wrong is traced), then applies the precedence
// filter.
void load_file(const std::wstring& path, set_t& set);
// load_file of the file named by the setting.
void load(set_t& set);

// Writes the set to a new file beside `fname` and moves it over `fname` in one
// step, so the file holds either the old or the new links whatever happens.
// True on success (then `modified` is cleared); on failure the old file stays
// and `modified` is kept.
bool save(const std::wstring& fname, set_t& set);
// save to the file named by the setting, only when the set was modified.
bool save_if_modified(set_t& set);

// The traced forms of QL::add and QL::del (scopes "QL::add", "QL::del").
bool add(set_t& set,
         const std::wstring& target,
         const std::wstring& name,
         int profile,
         const std::wstring& manifestid,
         const std::wstring& manifest);
std::size_t del(set_t& set, const std::wstring& manifest);

}  // namespace QL
