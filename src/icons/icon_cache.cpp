#include "icons/icon_cache.h"

#include <shlobj.h>

namespace icons {

std::wstring IconCachePath(const std::wstring& unique_id) {
  const std::wstring file = unique_id + L".ico";
  wchar_t root[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, root)))
    return file;
  std::wstring folder = root;
  for (const wchar_t* level : {L"Corvantis", L"KVX", L"CVIconCache"}) {
    if (folder.empty() || folder.back() != L'\\')
      folder += L'\\';
    folder += level;
    ::CreateDirectoryW(folder.c_str(), nullptr);
  }
  return folder + L'\\' + file;
}

}  // namespace icons
