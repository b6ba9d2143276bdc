// The full paths of all templates the resident agent knows, read from its
// lookup cache "CV_KVX_LOOKUP_CACHE".
//
//   std::vector<std::wstring> paths;
//   templates::get_manifest_fnames_all(paths);   // raises 0x8007006E without the agent
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace templates {

inline constexpr wchar_t kLookupCacheName[] = L"CV_KVX_LOOKUP_CACHE";
// What get_manifest_fnames_all raises when the section cannot be opened.
inline constexpr HRESULT kLookupCacheOpenFailed = HRESULT_FROM_WIN32(ERROR_OPEN_FAILED);

// Empties `paths`, then fills it with the live templates of the cache, sorted
// by UTF-16 code units, each once. Raises support::hresult_error
// (kLookupCacheOpenFailed) when the section or its view cannot be opened, for
// example because the agent is not running. Damage found in the section is
// traced and the damaged entries are left out.
void get_manifest_fnames_all(std::vector<std::wstring>& paths);

}  // namespace templates
