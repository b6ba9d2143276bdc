// The dashboard's web links with this system's values: the settings, the
// module's file version, the user's interface language and the system version.
#pragma once

#include <cstdint>
#include <string>

#include "ui/portable/web_link.h"

namespace ui {

// The values of a link of `kind` as this process sees them. The OEM settings
// are read once per process.
web_link_values_t CurrentWebLinkValues(std::uint32_t kind);

// build_web_link of the current values.
std::wstring BuildWebLink(std::uint32_t kind);

}  // namespace ui
