// Backup and restore of the user's logon data for the console: the templates of
// the user's own folder, the quick links and the categories, as one DER image
// (store/portable/backup_image.h). The credentials stay in the protected
// storage, which the names VARIANT names.
//
//   HRESULT CCVHCPages::GetStorageData(VARIANT* names, VARIANT* data) {
//     return backup::GetStorageData(names, data);      // always S_OK
//   }
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/portable/backup_image.h"

namespace backup {

inline constexpr wchar_t kProtectedStorageName[] = L"KVX Protected Storage";
inline constexpr UINT kAgentDataChanged = WM_USER + 0x12F;  // 0x52F to "CV_LocalAgentDS"

// The current user's data as an image; false when there is nothing at all.
bool collect_image(image_t& image);

// Restores a whole image: E_UNEXPECTED, with nothing changed, unless it parses
// into its three parts; a part that does not parse is skipped and its data kept.
// Tells the agents to refresh afterwards.
HRESULT restore_image(const std::uint8_t* data, std::size_t size) noexcept;

// The two halves of the console's backup interface (VARIANTs as the host
// passes them). GetStorageData always returns S_OK; SetStorageData returns
// S_OK, E_UNEXPECTED for an image it cannot take, or the failure to read the
// array.
HRESULT GetStorageData(VARIANT* names, VARIANT* data) noexcept;
HRESULT SetStorageData(const VARIANT* data) noexcept;

}  // namespace backup
