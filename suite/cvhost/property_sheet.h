// Shows the pages a plug-in handed over in a property sheet of the host's own.
#pragma once

#include <vector>

#include "options.h"
#include "page_site.h"

namespace cvhost {

// The pages pass to the sheet, which destroys them when it closes. Returns the
// exit code.
int show_property_sheet(std::vector<received_page_t>& pages, const options_t& options);

}  // namespace cvhost
