// The plug-in driven by the console host stand-in, as the suite's console uses
// it: registration with regsvr32, the console's requests, and what the plug-in
// traced while answering them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/CVOnlineIDsLib.h"
#include "support/registry.h"
#include "tests/support/installation_test_support.h"

namespace {

using testsupport::installation_t;
using testsupport::run_host;
using testsupport::set_reg_dword;
using testsupport::set_reg_string;

constexpr wchar_t kCorvantis[] = L"SOFTWARE\\Corvantis";
constexpr wchar_t kPlugins[] = L"SOFTWARE\\Corvantis\\CVHC\\Plugins";
constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Corvantis\\Dashboard";
constexpr wchar_t kOnlineIds[] = L"SOFTWARE\\Corvantis\\Applications\\OnlineIds";
constexpr wchar_t kIdCard[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard";

std::string utf8(const std::wstring& text) {
  std::string out(text.size() * 3, '\0');
  out.resize(static_cast<std::size_t>(
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

bool key_exists(HKEY root, const std::wstring& key) {
  return support::try_open_key(root, key.c_str(), KEY_READ).has_value();
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}
bool any_has(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// Whether the host's output has the line; it is shown when not.
::testing::AssertionResult host_says(const std::wstring& arguments, const std::string& line) {
  const auto result = run_host(arguments);
  if (result.output.find(line) != std::string::npos)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << line << "\" in: " << result.output;
}

testsupport::program_run_t regsvr32(const std::wstring& switches) {
  return testsupport::regsvr32(switches, L"CVOnlineIDs.dll");
}

std::wstring plugin_key(const wchar_t* element) {
  return std::wstring(kPlugins) + L"\\" + element + L"\\" + CVONLINEIDSLib::kCCVHCPagesClsidText;
}

// The installation, with its folder as the installation folder.
class PluginHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_installation.registered());
    set_reg_string(HKEY_LOCAL_MACHINE, kCorvantis, L"CorvantisPath", m_folder, KEY_WOW64_64KEY);
  }

  std::vector<std::string> new_trace_lines() { return m_installation.new_trace_lines(); }
  // Whether a new trace line starts with the text; the new lines are shown when not.
  ::testing::AssertionResult traced(const std::string& start) {
    auto failure = ::testing::AssertionFailure() << "not traced: " << start;
    for (const auto& line : new_trace_lines()) {
      if (line.compare(0, start.size(), start) == 0)
        return ::testing::AssertionSuccess();
      failure << "\n  traced: " << line;
    }
    return failure;
  }

  installation_t m_installation;
  const std::wstring m_folder = m_installation.folder();
  const std::wstring m_dll = testsupport::program_file(L"CVOnlineIDs.dll");
};

std::wstring read_cleanup(const std::wstring& folder) {
  const std::string bytes = testsupport::read_file(folder + L"Cleanup.txt");
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0)
    return L"<no byte-order mark>";
  std::wstring text((bytes.size() - 2) / 2, L'\0');
  std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
  return text;
}

const wchar_t kExpectedCleanup[] =
    L"HKU\tSOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard\t8\r\n"
    L"HKU\tSOFTWARE\\Corvantis\\Applications\\DashBoard\t1\tLastQLCategory\r\n"
    L"HKU\tSOFTWARE\\Corvantis\\Applications\\DashBoard\\QLCategories\t4108\r\n"
    L"HKU\tSOFTWARE\\Corvantis\\Applications\\KVAppSettings\t5\tOpenSecurityManager\r\n"
    L"HKU\tSOFTWARE\\Corvantis\\Applications\\KVAppSettings\t5\tShowTrainingPrompt\r\n"
    L"HK\tSOFTWARE\\Corvantis\\Applications\\DashBoard\t8\r\n"
    L"FILE\tCorvantis\\KVX\\Templates\\*\t4097\r\n"
    L"FILE\tCorvantis\\KVX\\CVIconCache\\*\t4097\r\n"
    L"FILE\tCorvantis\\KVX\\*\t4097\r\n"
    L"FILE\tCorvantis\\*\t4097\r\n"
    L"DIR\tCorvantis\t4096\r\n";

TEST_F(PluginHost, RegistrationRoundTripWithRegsvr32) {
  // Registered twice: still one key per element, with the current path.
  ASSERT_EQ(regsvr32(L"").exit_code, 0u);
  for (const wchar_t* element :
       {L"UserConsole", L"UIElements\\AppControl", L"UIElements\\BackupRestore", L"DashBoard"}) {
    const auto key =
        support::try_open_key(HKEY_LOCAL_MACHINE, plugin_key(element).c_str(), KEY_READ);
    ASSERT_TRUE(key) << "element not registered";
    DWORD type = 0;
    ::RegQueryValueExW(key->get(), nullptr, nullptr, &type, nullptr, nullptr);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(support::try_get_string(key->get(), nullptr).value_or(L""), m_dll);
  }
  // A second plug-in of the console under one element survives our unregistration.
  const std::wstring other =
      std::wstring(kPlugins) + L"\\UserConsole\\{00000000-1111-2222-3333-444444444444}";
  set_reg_string(HKEY_LOCAL_MACHINE, other, nullptr, L"other.dll");
  // Text without a byte-order mark is not ours: the list starts anew.
  ASSERT_TRUE(testsupport::write_file(m_folder + L"Cleanup.txt", "left over"));

  EXPECT_EQ(regsvr32(L"/u").exit_code, 0u);
  EXPECT_EQ(read_cleanup(m_folder), kExpectedCleanup);
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"UserConsole")));
  EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, other));
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, std::wstring(kPlugins) + L"\\UIElements"));
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, std::wstring(kPlugins) + L"\\DashBoard"));

  // Unregistering again: the missing key's error, and the list grows by another round.
  EXPECT_NE(regsvr32(L"/u").exit_code, 0u);
  EXPECT_EQ(read_cleanup(m_folder), std::wstring(kExpectedCleanup) + kExpectedCleanup);
  EXPECT_TRUE(
      traced("E CUnregisterComponents::DeleteKeyChain -2147024894 "
             "::RegOpenKeyExW(m_key, path.c_str(), 0, KEY_READ, &key) @"));
}

// The security status and the disable state from the policy (and its record's
// status), the local switch and the user's rating.
TEST_F(PluginHost, StatusAndDisableStateFollowPolicyLocalSwitchAndRating) {
  constexpr int kFailedRecord = static_cast<int>(0x80070005);
  constexpr char kNotAvailable[] = "hr=0x00000000 value=0 text=Not available";
  constexpr char kSwitchedOff[] = "hr=0x80004001 value=0 text=Not available";
  constexpr char kGood[] = "hr=0x00000000 value=1 text=Your saved logons are in good shape";
  struct row_t {
    int policy;         // -1: none
    int policy_status;  // record status; 0 = as the library says
    int disabled;       // DisableStatus, -1: none
    int rating;         // IDCard_SS, -1: none
    const char* status;
    int disable_state;
  };
  const row_t rows[] = {
      {-1, 0, -1, -1, kNotAvailable, 0},
      {-1, 0, -1, 0, kNotAvailable, 0},
      {-1, 0, -1, 1, "hr=0x00000000 value=2 text=Some of your saved logons use weak passwords", 0},
      {-1, 0, -1, 2, kGood, 0},
      {-1, 0, -1, 3, kGood, 0},
      {-1, 0, -1, 5, kGood, 0},
      {3, 0, 0, 3, kSwitchedOff, 3},  // the policy wins over the local choice
      {1, 0, 2, 3, kSwitchedOff, 1},
      {-1, 0, 2, 3, kSwitchedOff, 2},
      {0, 0, 2, 3, kSwitchedOff, 2},  // policies other than 1 and 3 leave the local choice
      {2, 0, 2, 3, kSwitchedOff, 2},
      // A record whose status fails counts as no policy, even though the call succeeded.
      {3, kFailedRecord, -1, 2, kGood, 0},
  };
  for (const row_t& row : rows) {
    SCOPED_TRACE(testing::Message() << "policy " << row.policy << " status " << row.policy_status
                                    << " disabled " << row.disabled << " rating " << row.rating);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicyKey);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOnlineIds);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kIdCard);
    if (row.policy >= 0)
      set_reg_dword(HKEY_LOCAL_MACHINE, kPolicyKey, L"EnableOnlineIds", row.policy);
    if (row.policy_status != 0)
      set_reg_dword(HKEY_LOCAL_MACHINE, kPolicyKey, L"Status_EnableOnlineIds", row.policy_status);
    if (row.disabled >= 0)
      set_reg_dword(HKEY_LOCAL_MACHINE, kOnlineIds, L"DisableStatus", row.disabled);
    if (row.rating >= 0)
      set_reg_dword(HKEY_CURRENT_USER, kIdCard, L"IDCard_SS", row.rating);
    EXPECT_TRUE(host_says(L"status", std::string("status: ") + row.status));
    EXPECT_TRUE(host_says(L"disable-status", "disable-status: hr=0x00000000 value=" +
                                                 std::to_string(row.disable_state)));
  }
  EXPECT_TRUE(traced("E GetGPOSettings -2147024891 "));
}

TEST_F(PluginHost, PropertiesAndInformation) {
  const std::pair<const wchar_t*, std::string> cases[] = {
      {L"property 1", "property 1: hr=0x00000000 vt=8 value=Online IDs"},
      {L"property 2", "property 2: hr=0x00000000 vt=8 value=" + utf8(m_dll) + ",119"},
      {L"property 3", "property 3: hr=0x00000000 vt=8 value=Logon Dashboard"},
      {L"property 4",
       "property 4: hr=0x00000000 vt=8 value=Keeps your logons and passwords for web sites and "
       "programs. Corvantis Security Suite fills them in for you after you sign in to Corvantis "
       "Security Suite."},
      {L"property 5", "property 5: hr=0x80070648"},
      {L"info 0", "info 0: hr=0x00000000 vt=8 value={DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}"},
      {L"info 1", "info 1: hr=0x80070648 vt=0"},
  };
  for (const auto& [arguments, line] : cases)
    EXPECT_TRUE(host_says(arguments, line));
  EXPECT_TRUE(contains(new_trace_lines(), "U CCVHCPages::GetInfo 1 = [0]"));
}

// Without its branding library the plug-in has no product name: each reason is
// traced, and property 1 (the name) is empty.
TEST_F(PluginHost, BrandingFailuresLeaveTheNameEmpty) {
  const std::wstring branding = std::wstring(kCorvantis) + L"\\Branding\\Common";
  const struct {
    void (*damage)(const std::wstring& key);
    const char* trace;
  } cases[] = {
      {[](const std::wstring& key) { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()); },
       "U CBranding::LoadResourceDLL Open Branding key SOFTWARE\\Corvantis\\Branding\\Common in "
       "registry Failed"},
      {[](const std::wstring& key) {
         ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DLLPath");
       },
       "U CBranding::LoadResourceDLL Failed to find DllPath under Branding key in registry"},
      {[](const std::wstring& key) {
         set_reg_string(HKEY_LOCAL_MACHINE, key, L"DLLPath", L"C:\\nowhere\\CVBrand.dll");
       },
       "U CBranding::LoadResourceDLL failed to load resource dll , GetLastError returned 0x"},
  };
  for (const auto& c : cases) {
    set_reg_string(HKEY_LOCAL_MACHINE, branding, L"DLLPath",
                   testsupport::program_file(L"CVBrand.dll"));
    c.damage(branding);
    new_trace_lines();
    const std::string output = run_host(L"property 1").output;
    const std::string empty = "property 1: hr=0x00000000 vt=8 value=";
    const auto at = output.find(empty);
    ASSERT_NE(at, std::string::npos) << output;
    EXPECT_TRUE(output[at + empty.size()] == '\r' || output[at + empty.size()] == '\n') << output;
    EXPECT_TRUE(traced(c.trace));
  }
}

TEST_F(PluginHost, DisableLocalSwitchesTheUserConsoleElement) {
  const auto disable_status = [] {
    return support::try_get_dword(
        support::try_open_key(HKEY_LOCAL_MACHINE, kOnlineIds, KEY_READ)->get(), L"DisableStatus");
  };
  set_reg_dword(HKEY_CURRENT_USER, kIdCard, L"IDCard_SS", 3);
  EXPECT_TRUE(host_says(L"disable", "disable: hr=0x00000000"));
  EXPECT_EQ(disable_status(), 2u);
  EXPECT_FALSE(support::try_get_dword(
      support::try_open_key(HKEY_CURRENT_USER, kIdCard, KEY_READ)->get(), L"IDCard_SS"));
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"UserConsole")));
  EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"DashBoard")));

  // The console no longer finds the plug-in for the user console.
  EXPECT_EQ(run_host(L"status").exit_code, 2u);

  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOnlineIds);  // enabling creates the key again
  EXPECT_TRUE(host_says(L"--element DashBoard enable", "enable: hr=0x00000000"));
  EXPECT_EQ(disable_status(), 0u);
  EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"UserConsole")));

  // Disabling twice: the element is gone already, and that is the result.
  EXPECT_EQ(run_host(L"disable").exit_code, 0u);
  EXPECT_TRUE(host_says(L"--element DashBoard disable", "disable: hr=0x80070002"));
}

TEST_F(PluginHost, PagesDependOnTheHostKind) {
  constexpr char kNoPages[] = "pages: hr=0x00000000 count=0";
  // The user console gets the main page and the settings page.
  EXPECT_TRUE(host_says(L"pages", "pages: hr=0x00000000 count=2"));
  auto lines = new_trace_lines();
  EXPECT_TRUE(any_has(lines, "U CCVHCPages::AddPages CMainPage: pPage=0x"));
  EXPECT_TRUE(any_has(lines, "U CCVHCPages::AddPages CSettingsPage: pPage=0x"));
  EXPECT_FALSE(contains(lines, "U CCVHCPages::AddPages CMainPage: pPage=0x0"));

  // The dashboard gets the main page alone.
  EXPECT_TRUE(host_says(L"--element DashBoard pages", "pages: hr=0x00000000 count=1"));
  lines = new_trace_lines();
  EXPECT_TRUE(any_has(lines, "U CCVHCPages::AddPages CMainPage: pPage=0x"));
  EXPECT_FALSE(any_has(lines, "U CCVHCPages::AddPages CSettingsPage: pPage=0x"));

  // Another kind of host, or one that differs in case, gets nothing.
  for (const wchar_t* kind : {L"--kind userconsole pages", L"--kind Other pages"}) {
    EXPECT_TRUE(host_says(kind, kNoPages));
    EXPECT_TRUE(traced("U CCVHCPages::AddPages host kind"));
  }
  // The result is that of the first-view request; a host without a kind fails the call.
  EXPECT_TRUE(host_says(L"--no-first-view pages", "pages: hr=0x80070057"));
  EXPECT_TRUE(host_says(L"--no-kind pages", "pages: hr=0x80004005"));
}

// A copy of the plug-in without its language library beside it: the pages it
// could not draw are traced and not handed to the host.
TEST_F(PluginHost, NoPagesWithoutTheLanguageLibrary) {
  const std::wstring lone = m_folder + L"CVOnlineIDs.dll";
  ASSERT_TRUE(::CopyFileW(m_dll.c_str(), lone.c_str(), FALSE));
  ASSERT_EQ(testsupport::run_program(L"regsvr32.exe /s \"" + lone + L"\"").exit_code, 0u);
  EXPECT_TRUE(host_says(L"pages", "pages: hr=0x00000000 count=0"));
  const auto lines = new_trace_lines();
  EXPECT_TRUE(any_has(lines, "no dialog 200 in the resource module"));
  EXPECT_TRUE(any_has(lines, "no dialog 203 in the resource module"));
  EXPECT_EQ(testsupport::regsvr32(L"", L"CVOnlineIDs.dll").exit_code, 0u);
}

TEST_F(PluginHost, MissingPolicyLibraryWrongTypesAndReadOnlyCleanupList) {
  // The suite's binary folder without the platform library: no policy, traced.
  set_reg_string(HKEY_LOCAL_MACHINE, std::wstring(kCorvantis) + L"\\Applications\\KVX", L"BinDir",
                 m_folder);
  // A rating of the wrong type counts as none.
  set_reg_string(HKEY_CURRENT_USER, kIdCard, L"IDCard_SS", L"3");
  EXPECT_TRUE(host_says(L"status", "status: hr=0x00000000 value=0 text=Not available"));
  EXPECT_TRUE(traced("E GetGPOSettings -2147024770 "));  // 0x8007007E: module not found

  // A clean-up list that can't be written doesn't stop unregistering. (A folder
  // in its place: a read-only file is writable for the root user Wine runs as.)
  ::CreateDirectoryW((m_folder + L"Cleanup.txt").c_str(), nullptr);
  EXPECT_EQ(regsvr32(L"/u").exit_code, 0u);
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"UserConsole")));
  EXPECT_TRUE(traced("E AddCleanupLine -2147024891 " + utf8(m_folder) + "Cleanup.txt"));  // denied
}

TEST_F(PluginHost, NoCleanupListWithoutAnAbsoluteInstallationFolder) {
  // Unregistering while standing in a folder of the test's own: no list may land
  // there, nor below it, whatever "CorvantisPath" says.
  wchar_t previous[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ::SetCurrentDirectoryW(m_folder.c_str());
  for (const wchar_t* path : {L"", L"relative\\folder", static_cast<const wchar_t*>(nullptr)}) {
    if (path)
      set_reg_string(HKEY_LOCAL_MACHINE, kCorvantis, L"CorvantisPath", path, KEY_WOW64_64KEY);
    else if (auto key = support::try_open_key(HKEY_LOCAL_MACHINE, kCorvantis,
                                              KEY_SET_VALUE | KEY_WOW64_64KEY))
      ::RegDeleteValueW(key->get(), L"CorvantisPath");
    ASSERT_EQ(regsvr32(L"").exit_code, 0u);
    new_trace_lines();
    EXPECT_EQ(regsvr32(L"/u").exit_code, 0u);
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"UserConsole")));
    EXPECT_TRUE(traced("U AddCleanupLine no installation folder (CorvantisPath '" +
                       utf8(path ? path : L"") + "'): Cleanup.txt not written"));
    EXPECT_EQ(::GetFileAttributesW((m_folder + L"Cleanup.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesW((m_folder + L"relative\\folder\\Cleanup.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);
  }
  ::SetCurrentDirectoryW(previous);
}

}  // namespace
