// The template storage folders under Wine: well-known folders from the
// environment and the registry, folder creation, folder validation against
// real drive types and network shares, the folder list built from settings of
// the test's own, enumeration, and the collection of every template that loads.
// Trace lines are read back from the program's own trace file.
#include <windows.h>

#include <shlobj.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/unique_any.h"
#include "templates/template_folders.h"
#include "templates_test_support.h"

namespace templates {
namespace {

using templatestest::traced;
using testsupport::scoped_environment_t;
using testsupport::scratch_folder_t;
using testsupport::set_reg_string;
using testsupport::write_file;

// ---- Drive letters and network shares made through Wine ----

template <typename Fn>
Fn wine_export(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}
using to_unix_fn = char*(CDECL*)(const WCHAR*);
using to_dos_fn = WCHAR*(CDECL*)(const char*);

bool running_under_wine() {
  return wine_export<to_unix_fn>("wine_get_unix_file_name") != nullptr;
}

// The Unix path of a Windows path; empty when there is none.
std::string unix_path_of(const std::wstring& path) {
  const auto to_unix = wine_export<to_unix_fn>("wine_get_unix_file_name");
  char* unix_path = to_unix ? to_unix(path.c_str()) : nullptr;
  if (unix_path == nullptr)
    return {};
  std::string result = unix_path;
  ::HeapFree(::GetProcessHeap(), 0, unix_path);
  return result;
}

// Defines (or with DRIVE_NO_ROOT_DIR removes) a drive letter through Wine's
// mount manager extension, as winecfg does; the record layout is Wine's.
bool define_drive(wchar_t letter, UINT type, const std::string& target) {
  struct unix_drive_request_t {
    ULONG size, type, fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset, device_offset, label_offset;
  };
  constexpr DWORD kDefineUnixDrive =
      CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
  std::vector<char> request(sizeof(unix_drive_request_t) + target.size() + 1, 0);
  auto* drive = reinterpret_cast<unix_drive_request_t*>(request.data());
  drive->size = static_cast<ULONG>(request.size());
  drive->type = type;
  drive->letter = letter;
  if (type != DRIVE_NO_ROOT_DIR) {
    drive->mount_point_offset = sizeof(unix_drive_request_t);
    std::memcpy(request.data() + sizeof(unix_drive_request_t), target.c_str(), target.size());
  }
  const support::unique_file manager(
      ::CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  DWORD returned = 0;
  return manager &&
         ::DeviceIoControl(manager.get(), kDefineUnixDrive, request.data(),
                           static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr);
}

// A drive letter from Y down to M, free when the test started, pointed at a
// folder with a drive type; Wine keeps it in the prefix until the destructor
// removes it.
class scoped_drive {
 public:
  explicit scoped_drive(const std::wstring& target) : m_target(unix_path_of(target)) {
    const DWORD used = ::GetLogicalDrives();
    for (wchar_t letter = L'Y'; letter >= L'M' && !m_letter; --letter) {
      if ((used & (1u << (letter - L'A'))) == 0)
        m_letter = letter;
    }
  }
  ~scoped_drive() {
    if (m_defined)
      define_drive(m_letter, DRIVE_NO_ROOT_DIR, {});
  }
  bool set_type(UINT type) {
    m_defined = m_letter != 0 && !m_target.empty();
    return m_defined && define_drive(m_letter, type, m_target);
  }
  std::wstring root() const { return std::wstring(1, m_letter) + L":\\"; }

 private:
  wchar_t m_letter = 0;
  std::string m_target;
  bool m_defined = false;
};

// A network share \\<server>\share\ that Wine serves from the prefix's
// dosdevices\unc folder, made by create().
class scoped_share {
 public:
  ~scoped_share() {
    std::error_code ignored;
    if (!m_unc_folder.empty())
      std::filesystem::remove_all(m_unc_folder + L"\\" + m_server, ignored);
    if (m_made_unc_folder)
      ::RemoveDirectoryW(m_unc_folder.c_str());
  }
  bool create() {
    const std::string c_root = unix_path_of(L"C:\\");  // <prefix>/dosdevices/c:/
    const auto to_dos = wine_export<to_dos_fn>("wine_get_dos_file_name");
    const auto c_link = c_root.rfind("/c:");
    WCHAR* dos = c_link == std::string::npos || to_dos == nullptr
                     ? nullptr
                     : to_dos((c_root.substr(0, c_link) + "/unc").c_str());
    if (dos == nullptr)
      return false;
    m_unc_folder = dos;
    ::HeapFree(::GetProcessHeap(), 0, dos);
    m_made_unc_folder = ::CreateDirectoryW(m_unc_folder.c_str(), nullptr) != FALSE;
    ::CreateDirectoryW((m_unc_folder + L"\\" + m_server).c_str(), nullptr);
    return ::CreateDirectoryW((m_unc_folder + L"\\" + m_server + L"\\share").c_str(), nullptr);
  }
  std::wstring unc() const { return L"\\\\" + m_server + L"\\share\\"; }

 private:
  std::wstring m_server = L"cvtest" + std::to_wstring(::GetCurrentProcessId());
  std::wstring m_unc_folder;  // the prefix's dosdevices\unc as a DOS path
  bool m_made_unc_folder = false;
};

// ---- Settings of the test's own; a key of its own stands in for HKLM ----

std::map<std::wstring, std::wstring> g_settings;

HRESULT WINAPI fake_query(SETTINGS_QUERY_REQUEST* request) {
  const std::wstring name(request->name, ::SysStringLen(request->name));
  const auto it = g_settings.find(name);
  if (it == g_settings.end())
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  *request->result = ::SysAllocString(it->second.c_str());
  return S_OK;
}

const plugin::settings_api_t kSettings{nullptr, fake_query, nullptr};

std::vector<std::wstring> names_of(const file_entry_set_t& files) {
  std::vector<std::wstring> names;
  for (const auto& file : files)
    names.push_back(file.full_path() + (file.alien ? L" alien" : L""));
  return names;
}

constexpr wchar_t kApplications[] = L"SOFTWARE\\Corvantis\\Applications";
constexpr wchar_t kKvx[] = L"SOFTWARE\\Corvantis\\Applications\\KVX";

class TemplateFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings.clear();
    traced();
  }
};

TEST_F(TemplateFolders, WellKnownFoldersFromTheEnvironment) {
  // The folders of the process are the resolved ones, and serve the portable form.
  const well_known_folders_t& cached = well_known_folders();
  const well_known_folders_t now = resolve_well_known_folders();
  EXPECT_EQ(cached.roaming_templates, now.roaming_templates);
  EXPECT_EQ(cached.local_product, now.local_product);
  ASSERT_FALSE(cached.roaming_templates.empty());
  EXPECT_EQ(portable_path(cached.roaming_templates + L"Bank.CVM"), L"kvi::bank.cvm");
  EXPECT_EQ(portable_path_utf8(wide_to_utf8(cached.local_product) + "x.cvm"), "usr::x.cvm");

  const testsupport::scratch_key_t machine(L"folders");
  set_reg_string(machine.get(), kApplications, L"BinDir", L"E:\\suite\\bin");
  scoped_environment_t appdata(L"APPDATA", L"C:\\Users\\t\\Roaming");
  scoped_environment_t local_appdata(L"LOCALAPPDATA", L"D:/local");
  traced();
  well_known_folders_t folders = resolve_well_known_folders(machine.get());
  EXPECT_EQ(folders.roaming_product, L"C:\\Users\\t\\Roaming\\Corvantis\\KVX\\");
  EXPECT_EQ(folders.roaming_templates, L"C:\\Users\\t\\Roaming\\Corvantis\\KVX\\Templates\\");
  EXPECT_EQ(folders.local_product, L"D:/local/Corvantis\\KVX\\");
  EXPECT_EQ(folders.components_templates, L"E:\\suite\\bin\\templates\\");
  EXPECT_EQ(traced(), std::vector<std::string>{});

  // Without LOCALAPPDATA the shell's local application data folder is asked for.
  local_appdata.set(nullptr);
  wchar_t local[MAX_PATH] = L"";
  ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local), S_OK);
  folders = resolve_well_known_folders(machine.get());
  EXPECT_EQ(folders.local_product, normalise_folder(local) + L"Corvantis\\KVX\\");

  // Without APPDATA both roaming folders stay empty, and the failure is traced.
  appdata.set(nullptr);
  folders = resolve_well_known_folders(machine.get());
  EXPECT_EQ(folders.roaming_product, L"");
  EXPECT_EQ(folders.roaming_templates, L"");
  EXPECT_EQ(traced(), std::vector<std::string>{
                          "E CTemplateFolders::Resolve -2147024693 failed to get appdata"});
}

TEST_F(TemplateFolders, InstallAndComponentFolders) {
  scoped_environment_t program_files(L"ProgramFiles", L"P:\\Progs");
  const testsupport::scratch_key_t machine(L"folders");
  // The component folder's own order (KVX first) is the suite folder tests'.
  struct step_t {
    const wchar_t* applications;  // BinDir of Applications (null: key missing)
    const wchar_t* kvx;           // BinDir of Applications\KVX (null: key missing)
    const wchar_t* install;
    const wchar_t* component;
  } steps[] = {
      {nullptr, nullptr, L"P:\\Progs\\corvantis\\bin\\", L"P:\\Progs\\corvantis\\bin\\"},
      {L"E:/suite/bin", L"F:\\kvx", L"E:/suite/bin/", L"F:\\kvx\\"},
      {L"", L"", L"P:\\Progs\\corvantis\\bin\\", L"P:\\Progs\\corvantis\\bin\\"},
  };
  for (const auto& step : steps) {
    ::RegDeleteTreeW(machine.get(), L"SOFTWARE");
    if (step.applications)
      set_reg_string(machine.get(), kApplications, L"BinDir", step.applications);
    if (step.kvx)
      set_reg_string(machine.get(), kKvx, L"BinDir", step.kvx);
    EXPECT_EQ(install_folder(machine.get()), step.install);
    EXPECT_EQ(resolve_component_folder(machine.get()), step.component);
  }
  ::RegDeleteTreeW(machine.get(), L"SOFTWARE");
  program_files.set(nullptr);
  EXPECT_EQ(install_folder(machine.get()), L"");
  // Components are never looked for without a folder: the shell's Program Files.
  const std::wstring fallback = resolve_component_folder(machine.get());
  EXPECT_TRUE(fallback.size() > 3 && fallback[1] == L':' &&
              fallback.ends_with(L"\\corvantis\\bin\\"))
      << fallback;

  EXPECT_EQ(component_folder(), resolve_component_folder());
  EXPECT_EQ(component_path(L"CvFillin.dll"), resolve_component_folder() + L"CvFillin.dll");
}

// Folders are made step by step (the steps are the portable tests'); the
// storage folders below show a nested one made and one under a file refused.
TEST_F(TemplateFolders, CheckPathAgainstDriveTypesAndShares) {
  if (!running_under_wine())
    GTEST_SKIP() << "drive types are configured through Wine";
  scratch_folder_t root;
  ASSERT_TRUE(write_file(root.path() + L"t.cvm", "<manifest/>"));
  scoped_drive drive(root.path());
  scoped_share share;
  ASSERT_TRUE(share.create());
  const std::wstring x = drive.root();
  const std::string xs = wide_to_utf8(x);

  struct case_t {
    UINT drive_type;  // what the test drive is made first (0: left as it is)
    std::wstring path;
    bool accepted;
    bool local;
    bool accessible;
    std::vector<std::string> lines;
  } cases[] = {
      {0, root.path(), true, true, true, {}},
      {0, L"relative\\", false, false, true, {"U checkpath strange path 'relative\\'"}},
      {0, L"1:\\", false, false, true, {"U checkpath unknown drive type = 1"}},
      {DRIVE_FIXED, x, true, true, true, {}},
      {DRIVE_REMOVABLE, x, false, false, true, {"U checkpath unknown drive type = 2"}},
      {DRIVE_CDROM, x, false, false, true, {"U checkpath unknown drive type = 5"}},
      {DRIVE_RAMDISK, x, false, false, true, {"U checkpath unknown drive type = 6"}},
      // Network folders: searchable (with or without templates) or not.
      {DRIVE_REMOTE, x, true, false, true, {}},
      {0, x + L"empty\\", true, false, true, {}},
      {0, x + L"missing\\", true, false, false, {}},
      {0, share.unc(), true, false, true, {}},
      {0, L"\\\\cvnosuchserver\\share\\", true, false, false, {}},
  };
  ::CreateDirectoryW((root.path() + L"empty").c_str(), nullptr);
  for (auto& c : cases) {
    if (c.drive_type != 0) {
      ASSERT_TRUE(drive.set_type(c.drive_type)) << c.drive_type;
    }
    traced();
    folder_record_t folder{c.path, true, !c.local, true};
    EXPECT_EQ(checkpath(folder), c.accepted) << wide_to_utf8(c.path);
    if (c.accepted) {
      EXPECT_EQ(folder.local, c.local) << wide_to_utf8(c.path);
      EXPECT_EQ(folder.accessible, c.accessible) << wide_to_utf8(c.path);
    }
    EXPECT_EQ(traced(), c.lines) << wide_to_utf8(c.path) << " on " << xs;
  }
}

TEST_F(TemplateFolders, FolderListFromTheSettings) {
  if (!running_under_wine())
    GTEST_SKIP() << "drive types are configured through Wine";
  scratch_folder_t root;
  const std::wstring& r = root.path();
  for (const wchar_t* folder : {L"alien", L"bin", L"bin\\templates", L"net", L"local"})
    ASSERT_TRUE(::CreateDirectoryW((r + folder).c_str(), nullptr));
  for (const wchar_t* file : {L"alien\\a", L"bin\\templates\\d", L"net\\n", L"local\\l"}) {
    const std::string id(1, static_cast<char>(std::wstring_view(file).back()));
    ASSERT_TRUE(
        write_file(r + file + L".cvm", "<manifest><descriptor id='" + id + "'/></manifest>"));
  }
  ASSERT_TRUE(write_file(r + L"local\\broken.cvm", "<manifest></forms>"));
  scoped_drive network(r + L"net\\");
  ASSERT_TRUE(network.set_type(DRIVE_REMOTE));
  scoped_drive removable(r);
  ASSERT_TRUE(removable.set_type(DRIVE_REMOVABLE));
  const std::wstring net = network.root();
  const std::wstring usb = removable.root() + L"stuff\\";

  g_settings = {
      {L"is_personalmode", L"-1"},
      {L"alienstorage_dirs", r + L"alien|" + r + L"ALIEN/|" + net + L"|" + usb + L"|relative"},
      {L"bin_dir", r + L"bin"},
      {L"cachestorage_dir", r + L"cache\\deep"},
      {L"localstorage_dir", r + L"local\\"},
  };
  traced();
  folder_set_t folders;
  prepfolderlist(folders, kSettings);
  const std::string rs = wide_to_utf8(r);
  const std::vector<std::string> expected_lines = {
      "U prepfolderlist duplicated path in alien folders",
      "U checkpath unknown drive type = 2",
      "U prepfolderlist path is invalid '" + wide_to_utf8(usb) + "'",
      "U checkpath strange path 'relative\\'",
      "U prepfolderlist path is invalid 'relative\\'",
      "U prepfolderlist cache '" + rs + "cache\\deep\\'",
      "U prepfolderlist local '" + rs + "local\\'",
      "U prepfolderlist done\n",
  };
  EXPECT_EQ(traced(), expected_lines);
  EXPECT_TRUE(std::filesystem::is_directory(r + L"cache\\deep"));

  struct record_t {
    std::wstring path;
    bool alien, local, accessible;
  };
  const std::vector<record_t> expected = {
      {r + L"alien\\", true, true, true},
      {r + L"bin\\templates\\", true, true, true},
      {r + L"cache\\deep\\", true, true, true},
      {r + L"local\\", false, true, true},
      {net, true, false, true},
  };
  ASSERT_EQ(folders.size(), expected.size());
  auto it = folders.begin();
  for (const auto& e : expected) {
    EXPECT_EQ(it->path, e.path);
    EXPECT_EQ(it->alien, e.alien) << wide_to_utf8(e.path);
    EXPECT_EQ(it->local, e.local) << wide_to_utf8(e.path);
    EXPECT_EQ(it->accessible, e.accessible) << wide_to_utf8(e.path);
    ++it;
  }

  // Only local folders are enumerated: the network drive's template stays out.
  file_entry_set_t files;
  collectall(folders, files);
  EXPECT_EQ(names_of(files), (std::vector<std::wstring>{
                                 r + L"alien\\a.cvm alien", r + L"bin\\templates\\d.cvm alien",
                                 r + L"local\\broken.cvm", r + L"local\\l.cvm"}));
  std::vector<std::string> enum_lines = {"U collectall local folders"};
  for (const wchar_t* folder : {L"alien\\", L"bin\\templates\\", L"cache\\deep\\", L"local\\"})
    enum_lines.push_back("U enumfnames   '" + wide_to_utf8(portable_path(r + folder)) + "'");
  EXPECT_EQ(traced(), enum_lines);

  // Every template there that loads, with its folder's alien flag.
  const std::vector<manifest_t> all = collect_all_templates(kSettings);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].descriptor.id, "a");
  EXPECT_EQ(all[0].path_key(), L"alien|" + r + L"alien\\a.cvm");
  EXPECT_EQ(all[2].descriptor.id, "l");
  EXPECT_EQ(all[2].path_key(), r + L"local\\l.cvm");

  // Personal mode reads no foreign folders; "bin_dir" still counts.
  g_settings[L"is_personalmode"] = L"1";
  folders.clear();
  prepfolderlist(folders, kSettings);
  EXPECT_EQ(folders.size(), 3u);
  EXPECT_EQ(folders.count({r + L"alien\\"}), 0u);
  EXPECT_EQ(folders.count({r + L"bin\\templates\\"}), 1u);
}

TEST_F(TemplateFolders, StorageFoldersDuplicatedOrNotCreatable) {
  scratch_folder_t root;
  const std::wstring& r = root.path();
  const std::string rs = wide_to_utf8(r);
  ASSERT_TRUE(write_file(r + L"file", "x"));
  struct case_t {
    std::map<std::wstring, std::wstring> settings;
    std::size_t records;
    std::vector<std::string> lines;
  } cases[] = {
      {{{L"is_personalmode", L"1"},
        {L"cachestorage_dir", r + L"same"},
        {L"localstorage_dir", r + L"SAME\\"}},
       1,
       {"U prepfolderlist cache '" + rs + "same\\'", "U prepfolderlist local '" + rs + "SAME\\'",
        "U prepfolderlist duplicated path in personal storage folder", "U prepfolderlist done\n"}},
      {{{L"is_personalmode", L"0"},  // not a boolean: read as no personal mode
        {L"alienstorage_dirs", r + L"shared"},
        {L"cachestorage_dir", r + L"shared"}},
       1,
       {"U prepfolderlist cache '" + rs + "shared\\'",
        "U prepfolderlist duplicated path in cached folders", "U prepfolderlist done\n"}},
      {{{L"cachestorage_dir", r + L"file\\c"}, {L"localstorage_dir", r + L"file"}},
       2,
       {"E prepfolderlist -2147024629 cache '" + rs + "file\\c\\' create failed",
        "E prepfolderlist -2147024629 local '" + rs + "file\\' create failed",
        "U prepfolderlist done\n"}},
      {{}, 0, {"U prepfolderlist done\n"}},
  };
  ::CreateDirectoryW((r + L"shared").c_str(), nullptr);
  for (const auto& c : cases) {
    g_settings = c.settings;
    folder_set_t folders;
    prepfolderlist(folders, kSettings);
    EXPECT_EQ(folders.size(), c.records);
    EXPECT_EQ(traced(), c.lines);
  }
  // Folders that failed to be created stay in the list as they were named.
  g_settings = cases[2].settings;
  folder_set_t folders;
  prepfolderlist(folders, kSettings);
  EXPECT_EQ(folders.count({r + L"file\\c\\"}), 1u);

  // Without the settings library there is nothing to read.
  folders.clear();
  traced();
  prepfolderlist(folders, plugin::settings_api_t{});
  EXPECT_TRUE(folders.empty());
  file_entry_set_t files;
  collectall(folders, files);
  EXPECT_EQ(traced(),
            (std::vector<std::string>{"U prepfolderlist done\n", "U collectall no local folders"}));
}

TEST_F(TemplateFolders, EnumeratesTemplateFilesOnly) {
  scratch_folder_t root;
  const std::wstring& r = root.path();
  for (const wchar_t* name : {L"a.cvm", L"B.CVM", L"c.cvmx", L"x.txt"})
    ASSERT_TRUE(write_file(r + name, "<manifest/>"));
  ASSERT_TRUE(::CreateDirectoryW((r + L"sub.cvm").c_str(), nullptr));
  const std::string portable = wide_to_utf8(portable_path(r));

  file_entry_set_t files;
  enumfnames({r, true, true, true}, files);
  EXPECT_EQ(names_of(files), (std::vector<std::wstring>{r + L"a.cvm alien", r + L"B.CVM alien"}));
  EXPECT_EQ(traced(), std::vector<std::string>{"U enumfnames   '" + portable + "'"});

  // A folder that does not exist (yet) has no templates and no error.
  enumfnames({r + L"missing\\", false, true, true}, files);
  EXPECT_EQ(files.size(), 2u);
  EXPECT_EQ(traced().size(), 1u);

  // A folder that cannot be searched is traced with the error.
  enumfnames({r + L"x.txt\\", false, true, true}, files);
  const auto lines = traced();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("E enumfnames -", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find(" failed access files from folder '" + wide_to_utf8(r) + "x.txt\\'"),
            std::string::npos)
      << lines[1];
}

}  // namespace
}  // namespace templates
