// String-table resources and the product-name placeholder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plugin {

// A string-table block holds 16 length-prefixed UTF-16 strings. Returns entry
// index (0 to 15), or nothing when the block ends before it or it is empty.
std::optional<std::wstring> string_table_entry(const std::uint8_t* block,
                                               std::size_t size,
                                               unsigned index);

// Replaces every "<<%PN%>>" with the product name.
std::wstring replace_product_name(std::wstring text, std::wstring_view product_name);

}  // namespace plugin
