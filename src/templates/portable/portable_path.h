// Path texts of the template storage folders: separator unification, the
// trailing separator, lower case for comparison, and the portable form of a
// template path in which a well-known folder is replaced by a short prefix:
//
//   templates::well_known_folders_t folders = ...;   // see template_folders.h
//   templates::portable_form(L"C:\\Users\\Ann\\AppData\\Roaming\\Corvantis\\KVX\\"
//                            L"Templates\\Site.cvm", folders);   // L"kvi::site.cvm"
#pragma once

#include <string>
#include <string_view>

namespace templates {

// The folders a portable path is made relative to; each is kept normalised
// (normalise_folder) and may be empty when it could not be found.
struct well_known_folders_t {
  std::wstring roaming_templates;     // %APPDATA%\Corvantis\KVX\Templates\ -> "kvi::"
  std::wstring roaming_product;       // %APPDATA%\Corvantis\KVX\           -> "kvx::"
  std::wstring local_product;         // local application data\Corvantis\KVX\ -> "usr::"
  std::wstring components_templates;  // the install folder's templates\    -> "dbg::"
};

inline constexpr wchar_t kRoamingTemplatesPrefix[] = L"kvi::";
inline constexpr wchar_t kRoamingProductPrefix[] = L"kvx::";
inline constexpr wchar_t kLocalProductPrefix[] = L"usr::";
inline constexpr wchar_t kComponentsTemplatesPrefix[] = L"dbg::";

inline bool is_separator(wchar_t c) noexcept {
  return c == L'\\' || c == L'/';
}

// Every backslash and slash becomes whichever of the two occurs first; a path
// with neither is returned as it is.
std::wstring unify_separators(std::wstring path);

// Appends a backslash unless the path is empty or already ends in a separator.
std::wstring with_trailing_separator(std::wstring path);

// The form every folder path is kept in: a trailing separator, then the
// separators unified (so "C:/a" becomes "C:/a/", never a mixed "C:/a\").
std::wstring normalise_folder(std::wstring path);

// Lower case by the simple Unicode mapping of the Latin, Greek, Cyrillic and
// full-width Latin letters (what path comparison on Windows needs in practice);
// other characters are returned unchanged. Works the same on every platform.
wchar_t lower_char(wchar_t c) noexcept;
std::wstring lower_text(std::wstring_view text);

// The portable form of a path: separators unified and lower-cased, then the
// first of the four folders (tested in the order of well_known_folders_t, each
// lower-cased) that occurs in it replaced by its prefix. Empty folders are
// never matched. Without a match the unified, lower-cased path is returned.
std::wstring portable_form(std::wstring_view path, const well_known_folders_t& folders);
// The same for UTF-8 text.
std::string portable_form_utf8(std::string_view path, const well_known_folders_t& folders);

}  // namespace templates
