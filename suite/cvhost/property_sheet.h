// Shows the pages a plug-in handed over in a property sheet of the host's own.
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "page_site.h"

namespace cvhost {

// The pages pass to the sheet, which destroys them when it closes. Returns the
// exit code.
int show_property_sheet(std::vector<received_page_t>& pages, const options_t& options);

// When a plug-in hands over no pages the console still opens, with a page of its
// own that says so (and the screenshot shows that). Returns the exit code.
int show_console_overview(const std::wstring& text, const options_t& options);

}  // namespace cvhost
