// Shows the pages a plug-in handed over in a property sheet of the host's own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "options.h"
#include "page_site.h"

namespace cvhost {

class CDriveRunner;

// The pages pass to the sheet, which destroys them when it closes. With a
// runner, its script runs once the sheet is up. Returns the exit code.
int show_property_sheet(std::vector<received_page_t>& pages,
                        const options_t& options,
                        CDriveRunner* runner = nullptr);

// When a plug-in hands over no pages the console still opens, with a page of its
// own that says so (and the screenshot shows that). Returns the exit code.
int show_console_overview(const std::wstring& text,
                          const options_t& options,
                          CDriveRunner* runner = nullptr);

// Saves a picture of the window (frame included) as a 24-bit bottom-up .bmp
// file and returns its size; throws host_error (kExitFile).
SIZE save_screenshot(HWND window, const std::wstring& path);

}  // namespace cvhost
