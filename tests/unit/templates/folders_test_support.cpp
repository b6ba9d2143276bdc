#include "folders_test_support.h"

#include <winioctl.h>

#include <cstring>
#include <vector>

namespace folderstest {
namespace {

// Wine's mount manager extension that defines or removes a drive letter (what
// winecfg uses); the record layout is Wine's.
constexpr DWORD kDefineUnixDrive =
    CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct unix_drive_request_t {
  ULONG size;
  ULONG type;
  ULONG fs_type;
  DWORD serial;
  ULONGLONG unix_dev;
  WCHAR letter;
  USHORT mount_point_offset;
  USHORT device_offset;
  USHORT label_offset;
};

using to_unix_fn = char*(CDECL*)(const WCHAR*);
using to_dos_fn = WCHAR*(CDECL*)(const char*);

template <typename Fn>
Fn wine_export(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

bool define_drive(wchar_t letter, UINT type, const std::string& target) {
  std::vector<char> request(sizeof(unix_drive_request_t) + target.size() + 1, 0);
  auto* drive = reinterpret_cast<unix_drive_request_t*>(request.data());
  drive->size = static_cast<ULONG>(request.size());
  drive->type = type;
  drive->letter = letter;
  if (type != DRIVE_NO_ROOT_DIR) {
    drive->mount_point_offset = sizeof(unix_drive_request_t);
    std::memcpy(request.data() + sizeof(unix_drive_request_t), target.c_str(), target.size());
  }
  const HANDLE manager =
      ::CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (manager == INVALID_HANDLE_VALUE)
    return false;
  DWORD returned = 0;
  const BOOL ok =
      ::DeviceIoControl(manager, kDefineUnixDrive, request.data(),
                        static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr);
  ::CloseHandle(manager);
  return ok != FALSE;
}

}  // namespace

bool write_file(const std::wstring& path, const std::string& bytes) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == bytes.size();
}

void remove_tree(const std::wstring& path) {
  std::wstring folder = path;
  if (!folder.empty() && folder.back() != L'\\')
    folder += L'\\';
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW((folder + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..")
        continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(folder + name);
      else
        ::DeleteFileW((folder + name).c_str());
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(folder.c_str());
}

scratch_folder::scratch_folder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  m_path = std::wstring(temp) + name + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
  remove_tree(m_path);
  ::CreateDirectoryW(m_path.c_str(), nullptr);
}

scratch_folder::~scratch_folder() {
  remove_tree(m_path);
}

bool running_under_wine() {
  return wine_export<to_unix_fn>("wine_get_unix_file_name") != nullptr;
}

std::string unix_path_of(const std::wstring& path) {
  const auto to_unix = wine_export<to_unix_fn>("wine_get_unix_file_name");
  if (to_unix == nullptr)
    return {};
  char* unix_path = to_unix(path.c_str());
  if (unix_path == nullptr)
    return {};
  std::string result = unix_path;
  ::HeapFree(::GetProcessHeap(), 0, unix_path);
  return result;
}

scoped_drive::scoped_drive(const std::wstring& target) : m_target(unix_path_of(target)) {
  const DWORD used = ::GetLogicalDrives();
  for (wchar_t letter = L'Y'; letter >= L'M'; --letter) {
    if ((used & (1u << (letter - L'A'))) == 0) {
      m_letter = letter;
      break;
    }
  }
}

scoped_drive::~scoped_drive() {
  if (m_defined)
    define_drive(m_letter, DRIVE_NO_ROOT_DIR, {});
}

bool scoped_drive::set_type(UINT type) {
  if (m_letter == 0 || m_target.empty())
    return false;
  m_defined = true;
  return define_drive(m_letter, type, m_target);
}

scoped_share::scoped_share() : m_server(L"cvtest" + std::to_wstring(::GetCurrentProcessId())) {}

bool scoped_share::create() {
  const std::string c_root = unix_path_of(L"C:\\");  // <prefix>/dosdevices/c:/
  const auto to_dos = wine_export<to_dos_fn>("wine_get_dos_file_name");
  const auto c_link = c_root.rfind("/c:");
  if (c_link == std::string::npos || to_dos == nullptr)
    return false;
  WCHAR* dos = to_dos((c_root.substr(0, c_link) + "/unc").c_str());
  if (dos == nullptr)
    return false;
  m_unc_folder = dos;
  ::HeapFree(::GetProcessHeap(), 0, dos);
  m_made_unc_folder = ::CreateDirectoryW(m_unc_folder.c_str(), nullptr) != FALSE;
  ::CreateDirectoryW((m_unc_folder + L"\\" + m_server).c_str(), nullptr);
  return ::CreateDirectoryW(local().c_str(), nullptr) != FALSE;
}

scoped_share::~scoped_share() {
  if (m_unc_folder.empty())
    return;
  remove_tree(m_unc_folder + L"\\" + m_server);
  if (m_made_unc_folder)
    ::RemoveDirectoryW(m_unc_folder.c_str());
}

}  // namespace folderstest
