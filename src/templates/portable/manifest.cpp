#include "templates/portable/manifest.h"

#include "templates/portable/manifest_text.h"

namespace templates {

std::wstring manifest_t::path_key() const {
  std::wstring key;
  if (alien)
    key = kAlienPrefix;
  key += utf8_to_wide(path);
  return key;
}

}  // namespace templates
