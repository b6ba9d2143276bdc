// Scratch folders, drive letters and network shares for the template folder
// tests. Drive types and shares are made through Wine's mount manager and its
// "unc" folder of the prefix, so they need Wine; everything made is removed
// again by the destructors.
#pragma once

#include <windows.h>

#include <string>

namespace folderstest {

// Creates a file with the given bytes; false when it cannot be written.
bool write_file(const std::wstring& path, const std::string& bytes);

// Deletes a folder with everything in it.
void remove_tree(const std::wstring& path);

// A fresh folder under the temporary folder, removed with its content.
class scratch_folder {
 public:
  explicit scratch_folder(const wchar_t* name);
  ~scratch_folder();
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;
  // The folder with a trailing backslash.
  const std::wstring& path() const { return m_path; }

 private:
  std::wstring m_path;
};

// True when the tests run under Wine (its mount manager extensions exist).
bool running_under_wine();

// The Unix path of a Windows path (Wine only); empty when there is none.
std::string unix_path_of(const std::wstring& path);

// A drive letter, free when the test started, made to point at a folder with
// the given drive type (DRIVE_FIXED, DRIVE_REMOVABLE, DRIVE_CDROM, DRIVE_REMOTE,
// DRIVE_RAMDISK). Wine keeps the letter in its prefix (the dosdevices link and
// HKLM\Software\Wine\Drives); the destructor removes both.
class scoped_drive {
 public:
  explicit scoped_drive(const std::wstring& target);
  ~scoped_drive();
  scoped_drive(const scoped_drive&) = delete;
  scoped_drive& operator=(const scoped_drive&) = delete;
  // Points the letter at the target with this type; false when Wine refused.
  bool set_type(UINT type);
  wchar_t letter() const { return m_letter; }
  // "X:\"
  std::wstring root() const { return std::wstring(1, m_letter) + L":\\"; }

 private:
  wchar_t m_letter = 0;
  std::string m_target;
  bool m_defined = false;
};

// A network share \\<server>\<share>\ served by Wine from the prefix's
// dosdevices\unc folder. The share folder exists only once create() ran.
class scoped_share {
 public:
  scoped_share();
  ~scoped_share();
  scoped_share(const scoped_share&) = delete;
  scoped_share& operator=(const scoped_share&) = delete;
  bool create();
  // "\\server\share\"
  std::wstring unc() const { return L"\\\\" + m_server + L"\\share\\"; }
  // The same folder through its local (Z:) path.
  std::wstring local() const { return m_unc_folder + L"\\" + m_server + L"\\share\\"; }

 private:
  std::wstring m_server;
  std::wstring m_unc_folder;  // the prefix's dosdevices\unc as a DOS path
  bool m_made_unc_folder = false;
};

}  // namespace folderstest
