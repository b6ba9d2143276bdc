// The per-user icon cache: one file "<unique identifier>.ico" per logon in
// "Corvantis\KVX\CVIconCache" under the local application-data folder.
#pragma once

#include <windows.h>

#include <string>

namespace icons {

// The cache file of a unique identifier; every missing folder level is made.
// Without a local application-data folder, the bare file name.
std::wstring IconCachePath(const std::wstring& unique_id);

}  // namespace icons
