#include "plugin/portable/cleanup_line.h"

namespace plugin {

std::wstring cleanup_line(std::wstring_view root,
                          std::wstring_view path,
                          unsigned flags,
                          std::optional<std::wstring_view> value_name) {
  std::wstring line;
  line.append(root).append(L"\t").append(path).append(L"\t").append(std::to_wstring(flags));
  if (value_name) {
    line += L'\t';
    if (value_name->empty())
      line += L' ';
    else
      line.append(*value_name);
  }
  line += L"\r\n";
  return line;
}

}  // namespace plugin
