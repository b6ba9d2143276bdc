#include "icons/icon_cache.h"

#include <shlobj.h>

#include "support/unique_any.h"

namespace icons {
namespace {

// The local application-data folder does not move while a process runs: it is
// looked up until found once (under Wine each lookup reads the shell-folder
// keys and writes one back); empty while there is none.
std::wstring local_app_data() {
  static support::critical_section lock;
  static std::wstring root;
  support::scoped_lock<support::critical_section> guard(lock);
  wchar_t path[MAX_PATH] = {};
  if (root.empty() && SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE,
                                                   nullptr, SHGFP_TYPE_CURRENT, path)))
    root = path;
  return root;
}

}  // namespace

std::wstring IconCachePath(const std::wstring& unique_id) {
  const std::wstring file = unique_id + L".ico";
  const std::wstring root = local_app_data();
  if (root.empty())
    return file;
  std::wstring folder = root;
  if (folder.back() != L'\\')
    folder += L'\\';
  folder += L"Corvantis\\KVX\\CVIconCache";
  // One look when the folder is there; the missing levels made otherwise
  // (the local application-data folder itself included).
  if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::wstring level = root;
    ::CreateDirectoryW(level.c_str(), nullptr);
    for (const wchar_t* name : {L"Corvantis", L"KVX", L"CVIconCache"}) {
      if (level.back() != L'\\')
        level += L'\\';
      level += name;
      ::CreateDirectoryW(level.c_str(), nullptr);
    }
  }
  return folder + L'\\' + file;
}

}  // namespace icons
