// One line of the uninstaller's clean-up list: root, tab, path, tab, flags and,
// when a value name is given, tab and the name (a single blank for an empty
// name), then CR LF.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plugin {

std::wstring cleanup_line(std::wstring_view root,
                          std::wstring_view path,
                          unsigned flags,
                          std::optional<std::wstring_view> value_name);

}  // namespace plugin
