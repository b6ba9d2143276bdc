// Registry helpers: the try_ forms return std::nullopt on any failure and never
// touch an out-parameter; values of the wrong type count as absent.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "support/unique_any.h"

namespace support {

std::optional<unique_hkey> try_open_key(HKEY root, const wchar_t* path, REGSAM access);
std::optional<DWORD> try_get_dword(HKEY key, const wchar_t* name);
std::optional<std::wstring> try_get_string(HKEY key, const wchar_t* name);
// The same, with a REG_EXPAND_SZ value's environment references expanded (a REG_SZ
// value is returned as it stands).
std::optional<std::wstring> try_get_expanded_string(HKEY key, const wchar_t* name);
// Environment references of text expanded; the text itself when expansion fails.
std::wstring expand_environment(const std::wstring& text);
// Value names of a key, from index 0 until enumeration fails (names up to 260 chars).
std::vector<std::wstring> enum_value_names(HKEY key);
// Subkey names of a key, from index 0 until enumeration fails.
std::vector<std::wstring> enum_subkey_names(HKEY key);

}  // namespace support
