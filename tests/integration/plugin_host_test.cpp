// The plug-in driven by the console host stand-in, as the suite's console uses
// it: registration with regsvr32, the console's requests, and what the plug-in
// traced while answering them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/CVOnlineIDsLib.h"
#include "support/registry.h"
#include "tools/tracereader/trace_reader.h"

namespace {

constexpr wchar_t kCorvantis[] = L"SOFTWARE\\Corvantis";
constexpr wchar_t kPolicies[] = L"SOFTWARE\\Policies\\Corvantis";
constexpr wchar_t kDashBoardUser[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard";
constexpr wchar_t kPlugins[] = L"SOFTWARE\\Corvantis\\CVHC\\Plugins";
const std::wstring kClassKey = CVONLINEIDSLib::kCCVHCPagesClsidText;

std::string utf8(const std::wstring& text) {
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), length, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(length - 1));
  return out;
}

std::wstring exe_folder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

void set_string(HKEY root,
                const std::wstring& key,
                const wchar_t* name,
                const std::wstring& value,
                REGSAM view = 0) {
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k,
                              nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(k);
}

void set_dword(HKEY root, const std::wstring& key, const wchar_t* name, DWORD value) {
  HKEY k = nullptr;
  ASSERT_EQ(
      ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
      ERROR_SUCCESS);
  ::RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  ::RegCloseKey(k);
}

bool key_exists(HKEY root, const std::wstring& key) {
  return support::try_open_key(root, key.c_str(), KEY_READ).has_value();
}

struct run_result_t {
  DWORD exit_code = 0;
  std::string output;
};

// Runs a program and collects what it writes to its standard output.
run_result_t run(const std::wstring& command) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ::CreatePipe(&read_end, &write_end, &inherit, 0);
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{sizeof(startup)};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::wstring line = command;
  run_result_t result;
  result.exit_code = 0xFFFFFFFF;
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
    ::CloseHandle(read_end);
    ::CloseHandle(write_end);
    return result;
  }
  ::CloseHandle(write_end);
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0)
    result.output.append(buffer, got);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::GetExitCodeProcess(process.hProcess, &result.exit_code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(read_end);
  for (std::size_t at; (at = result.output.find('\r')) != std::string::npos;)
    result.output.erase(at, 1);
  return result;
}

class PluginHost : public ::testing::Test {
 protected:
  void SetUp() override {
    clean_registry();
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"cvplugin" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    ::CreateDirectoryW(m_folder.c_str(), nullptr);
    m_dll = exe_folder() + L"CVOnlineIDs.dll";
    // An installed suite: binaries beside the test, branding, installation folder.
    set_string(HKEY_LOCAL_MACHINE, std::wstring(kCorvantis) + L"\\Applications\\KVX", L"BinDir",
               exe_folder());
    set_string(HKEY_LOCAL_MACHINE, std::wstring(kCorvantis) + L"\\Branding\\Common", L"DLLPath",
               exe_folder() + L"CVBrand.dll");
    set_string(HKEY_LOCAL_MACHINE, kCorvantis, L"CorvantisPath", m_folder, KEY_WOW64_64KEY);
    // Tracing of every process into one shared file.
    const std::wstring tracing = std::wstring(kCorvantis) + L"\\Tracing";
    set_dword(HKEY_LOCAL_MACHINE, tracing, L"DoTrace", 1);
    set_dword(HKEY_LOCAL_MACHINE, tracing, L"NewFileAlways", 0);
    set_string(HKEY_LOCAL_MACHINE, tracing, L"FileName", m_folder + L"trace.trc3");
  }

  void TearDown() override {
    clean_registry();
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((m_folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        ::SetFileAttributesW((m_folder + found.cFileName).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((m_folder + found.cFileName).c_str());
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    ::RemoveDirectoryW(m_folder.c_str());
  }

  static void clean_registry() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kCorvantis);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicies);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kDashBoardUser);
    HKEY view64 = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCorvantis, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        &view64) == ERROR_SUCCESS) {
      ::RegDeleteValueW(view64, L"CorvantisPath");
      ::RegCloseKey(view64);
    }
  }

  run_result_t host(const std::wstring& arguments) {
    return run(L"\"" + exe_folder() + L"cvhost.exe\" " + arguments);
  }
  run_result_t regsvr32(const std::wstring& switches) {
    return run(L"regsvr32.exe /s " + switches + L" \"" + m_dll + L"\"");
  }
  void register_plugin() { ASSERT_EQ(regsvr32(L"").exit_code, 0u); }

  // The plug-in's trace records added since the last call, as "type function text".
  std::vector<std::string> new_trace_lines() {
    std::ifstream in((m_folder + L"trace.trc3").c_str(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const auto trace = tracereader::decode_trace(bytes, true);
    std::vector<std::string> lines;
    for (std::size_t i = m_seen; i < trace.entries.size(); ++i) {
      const auto& e = trace.entries[i];
      if (e.type != 't' && e.type != 'T' && e.type != 'N')
        lines.push_back(std::string(1, e.type) + " " + e.function.str() + " " + e.text);
    }
    m_seen = trace.entries.size();
    return lines;
  }
  // Whether a new trace line starts with the text.
  bool traced(const std::string& start) {
    const auto lines = new_trace_lines();
    for (const auto& line : lines)
      if (line.compare(0, start.size(), start) == 0)
        return true;
    for (const auto& line : lines)
      std::printf("  traced: %s\n", line.c_str());
    return false;
  }

  std::wstring plugin_key(const wchar_t* element) {
    return std::wstring(kPlugins) + L"\\" + element + L"\\" + kClassKey;
  }

  std::wstring m_folder;
  std::wstring m_dll;
  std::size_t m_seen = 0;
};

std::wstring read_cleanup(const std::wstring& folder) {
  std::ifstream in((folder + L"Cleanup.txt").c_str(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
      static_cast<unsigned char>(bytes[1]) != 0xFE)
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
  register_plugin();
  register_plugin();  // twice: still one key per element, with the current path
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
  set_string(HKEY_LOCAL_MACHINE, other, nullptr, L"other.dll");
  // Text without a byte-order mark is not ours: the list starts anew.
  { std::ofstream((m_folder + L"Cleanup.txt").c_str()) << "left over"; }

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

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Corvantis\\Dashboard";
constexpr wchar_t kOnlineIds[] = L"SOFTWARE\\Corvantis\\Applications\\OnlineIds";
constexpr wchar_t kIdCard[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard";

TEST_F(PluginHost, SecurityStatusFollowsPolicyLocalSwitchAndRating) {
  register_plugin();
  struct row_t {
    int policy;         // -1: none
    int policy_status;  // record status; 0 = as the library says
    int disabled;       // DisableStatus, -1: none
    int rating;         // IDCard_SS, -1: none
    const char* line;
  };
  const row_t rows[] = {
      {-1, 0, -1, -1, "status: hr=0x00000000 value=0 text=Not available"},
      {-1, 0, -1, 0, "status: hr=0x00000000 value=0 text=Not available"},
      {-1, 0, -1, 1,
       "status: hr=0x00000000 value=2 text=Some of your saved logons use weak passwords"},
      {-1, 0, -1, 2, "status: hr=0x00000000 value=1 text=Your saved logons are in good shape"},
      {-1, 0, -1, 3, "status: hr=0x00000000 value=1 text=Your saved logons are in good shape"},
      {-1, 0, -1, 5, "status: hr=0x00000000 value=1 text=Your saved logons are in good shape"},
      {3, 0, -1, 3, "status: hr=0x80004001 value=0 text=Not available"},
      {1, 0, 2, 3, "status: hr=0x80004001 value=0 text=Not available"},
      {-1, 0, 2, 3, "status: hr=0x80004001 value=0 text=Not available"},
      // A record whose status fails counts as no policy, even though the call succeeded.
      {3, static_cast<int>(0x80070005), -1, 2,
       "status: hr=0x00000000 value=1 text=Your saved logons are in good shape"},
  };
  for (const row_t& row : rows) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicyKey);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOnlineIds);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kIdCard);
    if (row.policy >= 0)
      set_dword(HKEY_LOCAL_MACHINE, kPolicyKey, L"EnableOnlineIds", static_cast<DWORD>(row.policy));
    if (row.policy_status != 0)
      set_dword(HKEY_LOCAL_MACHINE, kPolicyKey, L"Status_EnableOnlineIds",
                static_cast<DWORD>(row.policy_status));
    if (row.disabled >= 0)
      set_dword(HKEY_LOCAL_MACHINE, kOnlineIds, L"DisableStatus", static_cast<DWORD>(row.disabled));
    if (row.rating >= 0)
      set_dword(HKEY_CURRENT_USER, kIdCard, L"IDCard_SS", static_cast<DWORD>(row.rating));
    const auto result = host(L"status");
    EXPECT_NE(result.output.find(row.line), std::string::npos)
        << "policy " << row.policy << " disabled " << row.disabled << " rating " << row.rating
        << ": " << result.output;
  }
  EXPECT_TRUE(traced("E GetGPOSettings -2147024891 "));
}

TEST_F(PluginHost, DisableStateIsPolicyElseTheLocalChoice) {
  register_plugin();
  const std::pair<int, int> cases[][1] = {{{-1, -1}}, {{1, 2}}, {{3, 0}}, {{2, 2}}, {{0, 2}}};
  const char* expected[] = {"value=0", "value=1", "value=3", "value=2", "value=2"};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicyKey);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOnlineIds);
    const auto [policy, disabled] = cases[i][0];
    if (policy >= 0)
      set_dword(HKEY_LOCAL_MACHINE, kPolicyKey, L"EnableOnlineIds", static_cast<DWORD>(policy));
    if (disabled >= 0)
      set_dword(HKEY_LOCAL_MACHINE, kOnlineIds, L"DisableStatus", static_cast<DWORD>(disabled));
    const auto result = host(L"disable-status");
    EXPECT_NE(result.output.find(std::string("disable-status: hr=0x00000000 ") + expected[i]),
              std::string::npos)
        << result.output;
  }
}

TEST_F(PluginHost, PropertiesAndInformation) {
  register_plugin();
  std::string dll_path(m_dll.begin(), m_dll.end());
  const std::pair<const wchar_t*, std::string> cases[] = {
      {L"property 1", "property 1: hr=0x00000000 vt=8 value=Online IDs"},
      {L"property 2", "property 2: hr=0x00000000 vt=8 value=" + dll_path + ",119"},
      {L"property 3", "property 3: hr=0x00000000 vt=8 value=Logon Dashboard"},
      {L"property 4",
       "property 4: hr=0x00000000 vt=8 value=Keeps your logons and passwords for web sites and "
       "programs. Corvantis Security Suite fills them in for you after you sign in to Corvantis "
       "Security Suite."},
      {L"property 5", "property 5: hr=0x80070648"},
      {L"info 0", "info 0: hr=0x00000000 vt=8 value={DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}"},
      {L"info 1", "info 1: hr=0x80070648 vt=0"},
  };
  for (const auto& [arguments, line] : cases) {
    const auto result = host(arguments);
    EXPECT_NE(result.output.find(line), std::string::npos) << result.output;
  }
  const auto lines = new_trace_lines();
  const auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("U CCVHCPages::GetInfo 0 = {DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}[8]"));
  EXPECT_TRUE(has("U CCVHCPages::GetInfo 1 = [0]"));
}

TEST_F(PluginHost, DisableLocalSwitchesTheUserConsoleElement) {
  register_plugin();
  set_dword(HKEY_CURRENT_USER, kIdCard, L"IDCard_SS", 3);
  auto result = host(L"disable");
  EXPECT_NE(result.output.find("disable: hr=0x00000000"), std::string::npos) << result.output;
  EXPECT_EQ(
      support::try_get_dword(support::try_open_key(HKEY_LOCAL_MACHINE, kOnlineIds, KEY_READ)->get(),
                             L"DisableStatus"),
      2u);
  EXPECT_FALSE(support::try_get_dword(
      support::try_open_key(HKEY_CURRENT_USER, kIdCard, KEY_READ)->get(), L"IDCard_SS"));
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"UserConsole")));
  EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"DashBoard")));

  // The console no longer finds the plug-in for the user console.
  EXPECT_EQ(host(L"status").exit_code, 2u);

  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOnlineIds);  // enabling creates the key again
  result = host(L"--element DashBoard enable");
  EXPECT_NE(result.output.find("enable: hr=0x00000000"), std::string::npos) << result.output;
  EXPECT_EQ(
      support::try_get_dword(support::try_open_key(HKEY_LOCAL_MACHINE, kOnlineIds, KEY_READ)->get(),
                             L"DisableStatus"),
      0u);
  EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"UserConsole")));

  // Disabling twice: the element is gone already, and that is the result.
  EXPECT_EQ(host(L"disable").exit_code, 0u);
  result = host(L"--element DashBoard disable");
  EXPECT_NE(result.output.find("disable: hr=0x80070002"), std::string::npos) << result.output;
}

TEST_F(PluginHost, PagesDependOnTheHostKind) {
  register_plugin();
  auto result = host(L"pages");
  EXPECT_NE(result.output.find("pages: hr=0x00000000 count=0"), std::string::npos) << result.output;
  auto lines = new_trace_lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "U CCVHCPages::AddPages CMainPage: pPage=0x0"),
            lines.end());
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "U CCVHCPages::AddPages CSettingsPage: pPage=0x0"),
      lines.end());

  result = host(L"--element DashBoard pages");
  EXPECT_NE(result.output.find("pages: hr=0x00000000 count=0"), std::string::npos) << result.output;
  lines = new_trace_lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "U CCVHCPages::AddPages CMainPage: pPage=0x0"),
            lines.end());
  EXPECT_EQ(
      std::find(lines.begin(), lines.end(), "U CCVHCPages::AddPages CSettingsPage: pPage=0x0"),
      lines.end());

  // Another kind of host, or one that differs in case, gets nothing.
  for (const wchar_t* kind : {L"--kind userconsole pages", L"--kind Other pages"}) {
    result = host(kind);
    EXPECT_NE(result.output.find("pages: hr=0x00000000 count=0"), std::string::npos);
    EXPECT_TRUE(traced("U CCVHCPages::AddPages host kind"));
  }
  // The result is that of the first-view request; a host without a kind fails the call.
  EXPECT_NE(host(L"--no-first-view pages").output.find("pages: hr=0x80070057"), std::string::npos);
  EXPECT_NE(host(L"--no-kind pages").output.find("pages: hr=0x80004005"), std::string::npos);
}

TEST_F(PluginHost, MissingPolicyLibraryWrongTypesAndReadOnlyCleanupList) {
  register_plugin();
  // The suite's binary folder without the platform library: no policy, traced.
  set_string(HKEY_LOCAL_MACHINE, std::wstring(kCorvantis) + L"\\Applications\\KVX", L"BinDir",
             m_folder);
  // A rating of the wrong type counts as none.
  set_string(HKEY_CURRENT_USER, kIdCard, L"IDCard_SS", L"3");
  auto result = host(L"status");
  EXPECT_NE(result.output.find("status: hr=0x00000000 value=0 text=Not available"),
            std::string::npos)
      << result.output;
  EXPECT_TRUE(traced("E GetGPOSettings -2147024770 "));  // 0x8007007E: module not found

  // A clean-up list that can't be written doesn't stop unregistering. (A folder
  // in its place: a read-only file is writable for the root user Wine runs as.)
  ::CreateDirectoryW((m_folder + L"Cleanup.txt").c_str(), nullptr);
  EXPECT_EQ(regsvr32(L"/u").exit_code, 0u);
  ::RemoveDirectoryW((m_folder + L"Cleanup.txt").c_str());
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, plugin_key(L"UserConsole")));
  EXPECT_TRUE(traced("E AddCleanupLine -2147024891 " + utf8(m_folder) + "Cleanup.txt"));  // denied
}

}  // namespace
