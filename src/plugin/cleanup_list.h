// "Cleanup.txt" in the suite's installation folder: what the suite's
// uninstaller removes (UTF-16LE with a byte-order mark, one item per line).
#pragma once

#include <optional>
#include <string>

namespace plugin {

// The installation folder ("CorvantisPath", read from the 64-bit view under WOW64).
std::wstring corvantis_path();

// Appends one line; root and path must not be empty (E_INVALIDARG). Throws
// hresult_error with the Win32 error on failure. When "CorvantisPath" is missing,
// empty or not an absolute folder, nothing is written anywhere: that is traced and
// raised as HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND).
void AddCleanupLine(const wchar_t* root,
                    const wchar_t* path,
                    unsigned flags,
                    std::optional<std::wstring> valueName);

}  // namespace plugin
