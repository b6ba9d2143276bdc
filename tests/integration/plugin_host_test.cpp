// The plug-in driven by the console host stand-in, as the suite's console uses
// it: registration with regsvr32, the console's requests, and what the plug-in
// traced while answering them.
#include <windows.h>

#include <gtest/gtest.h>

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

}  // namespace
