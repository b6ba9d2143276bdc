// What only other processes show: envelopes stay inside their process, the
// provider check runs once per process, and the providers' registration in the
// real registry is repaired (each test restores what it changes).
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "crypto/crypt_blob.h"
#include "crypto/crypt_context.h"
#include "crypto/obfuscated_text.h"
#include "support/unique_any.h"

namespace crypto {
namespace {

constexpr wchar_t kProviders[] = L"Software\\Microsoft\\Cryptography\\Defaults\\Provider\\";

std::wstring own_folder() {
  wchar_t path[MAX_PATH] = L"";
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring temp_file(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = L"";
  ::GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + L"cvtest_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + name;
}

// Runs the helper program and returns its "key=value" output lines.
std::map<std::string, std::string> run_helper(const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  EXPECT_TRUE(::CreatePipe(&read_end, &write_end, &inherit, 0));
  support::unique_handle reader(read_end), writer(write_end);
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{sizeof startup};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command = L"\"" + own_folder() + L"crypto_test_helper.exe\" " + arguments;
  PROCESS_INFORMATION process{};
  std::map<std::string, std::string> values;
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "cannot start the helper: " << ::GetLastError();
    return values;
  }
  support::unique_handle thread(process.hThread), child(process.hProcess);
  writer.reset();  // the child holds the only write end now
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    output.append(buffer, got);
  ::WaitForSingleObject(child.get(), INFINITE);

  std::size_t at = 0;
  while (at < output.size()) {
    std::size_t end = output.find('\n', at);
    if (end == std::string::npos)
      end = output.size();
    std::string line = output.substr(at, end - at);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos)
      values[line.substr(0, equals)] = line.substr(equals + 1);
    at = end + 1;
  }
  return values;
}

std::string hex(const std::vector<BYTE>& data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (BYTE b : data) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// The key changes with the second in which a process was created: wait until a
// process started now gets a later second than this one.
void wait_for_a_later_creation_second() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto seconds = [](const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000000;
  };
  for (;;) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    if (seconds(now) > seconds(created))
      return;
    ::Sleep(50);
  }
}

// Saves a key of the registered providers (values only: they have no subkeys)
// and puts it back exactly as it was when destroyed.
class saved_provider_key {
 public:
  explicit saved_provider_key(const std::wstring& name) : m_path(kProviders + name) {
    HKEY key = nullptr;
    m_existed =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (!m_existed)
      return;
    for (DWORD index = 0;; ++index) {
      wchar_t value_name[256];
      DWORD name_length = 256, type = 0, size = 0;
      if (::RegEnumValueW(key, index, value_name, &name_length, nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS)
        break;
      value_t value{std::wstring(value_name, name_length), type, std::vector<BYTE>(size)};
      ::RegQueryValueExW(key, value.name.c_str(), nullptr, nullptr, value.data.data(), &size);
      m_values.push_back(std::move(value));
    }
    ::RegCloseKey(key);
  }
  ~saved_provider_key() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str());
    if (!m_existed)
      return;
    HKEY key = nullptr;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr);
    for (const auto& value : m_values) {
      ::RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
    }
    ::RegCloseKey(key);
  }
  bool existed() const { return m_existed; }
  std::size_t value_count() const { return m_values.size(); }

 private:
  struct value_t {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  std::wstring m_path;
  bool m_existed = false;
  std::vector<value_t> m_values;
};

void write_provider(const std::wstring& name, DWORD type, const wchar_t* image) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kProviders + name).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(key, L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type);
  if (image != nullptr) {
    ::RegSetValueExW(key, L"Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(image),
                     static_cast<DWORD>((std::wcslen(image) + 1) * sizeof(wchar_t)));
  }
  ::RegCloseKey(key);
}

std::wstring read_log(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::wstring();
  std::wstring text(32768, L'\0');
  DWORD got = 0;
  ::ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &got, nullptr);
  ::CloseHandle(file);
  text.resize(got / sizeof(wchar_t));
  return text;
}

TEST(OtherProcess, EnvelopesDoNotCrossProcesses) {
  wait_for_a_later_creation_second();
  const std::vector<BYTE> plain = {'c', 'r', 'o', 's', 's', '-', 'p', 'r', 'o', 'c', 'e', 's', 's'};

  // Ours, read there.
  std::wstring ours;
  ASSERT_EQ(ObfuscateToText(plain.data(), static_cast<DWORD>(plain.size()), ours), S_OK);
  auto there = run_helper(L"deobfuscate " + ours);
  ASSERT_EQ(there.count("hr"), 1u);
  EXPECT_NE(there["plain"], hex(plain));

  // Theirs, read here; the helper itself reads its envelope back.
  const std::string plain_hex = hex(plain);
  auto theirs = run_helper(L"obfuscate " + std::wstring(plain_hex.begin(), plain_hex.end()));
  ASSERT_EQ(theirs["self"], "ok");
  const std::wstring text(theirs["text"].begin(), theirs["text"].end());
  CHeapCryptBlob here;
  const HRESULT hr = DeobfuscateFromText(text, here);
  if (SUCCEEDED(hr)) {
    EXPECT_NE(std::vector<BYTE>(here.Data(), here.Data() + here.Size()), plain);
  }

  // Still fine within this process.
  CHeapCryptBlob back;
  ASSERT_EQ(DeobfuscateFromText(ours, back), S_OK);
  EXPECT_EQ(std::vector<BYTE>(back.Data(), back.Data() + back.Size()), plain);
}

TEST(OtherProcess, ProviderCheckRunsOnceForConcurrentContexts) {
  EXPECT_EQ(run_helper(L"threads")["runs"], "1");
  const auto provider = run_helper(L"provider");
  EXPECT_EQ(provider.at("provider"), "Microsoft Enhanced Cryptographic Provider v1.0");
  EXPECT_EQ(provider.at("runs"), "1");
}

TEST(ProviderRegistry, UnusableEnhancedProviderFallsBackToBase) {
  const saved_provider_key enhanced(L"Microsoft Enhanced Cryptographic Provider v1.0");
  ASSERT_TRUE(enhanced.existed());
  write_provider(L"Microsoft Enhanced Cryptographic Provider v1.0", PROV_RSA_FULL,
                 L"C:\\cvtest-no-such-folder\\no_such_provider.dll");
  const auto provider = run_helper(L"provider");
  EXPECT_EQ(provider.count("hr"), 0u);
  EXPECT_EQ(provider.at("provider"), "Microsoft Base Cryptographic Provider v1.0");
}

TEST(ProviderRegistry, MissingProviderIsRepairedByReregisteringFullProviders) {
  const std::wstring fake = own_folder() + L"crypto_fake_provider.dll";
  const std::wstring fake_aes = temp_file(L"fake_provider_aes.dll");
  const std::wstring log = temp_file(L"fake_provider.log");
  ASSERT_TRUE(::CopyFileW(fake.c_str(), fake_aes.c_str(), FALSE));
  ::DeleteFileW(log.c_str());
  ::SetEnvironmentVariableW(L"CV_FAKE_PROVIDER_LOG", log.c_str());

  const saved_provider_key enhanced(L"Microsoft Enhanced Cryptographic Provider v1.0");
  ASSERT_TRUE(enhanced.existed());
  ASSERT_GE(enhanced.value_count(), 2u);
  {
    const saved_provider_key full(L"CVTest Full Provider");
    const saved_provider_key aes(L"CVTest AES Provider");
    const saved_provider_key no_image(L"CVTest Provider Without Image");
    const saved_provider_key missing(L"CVTest Provider With Missing Image");
    write_provider(L"CVTest Full Provider", PROV_RSA_FULL, fake.c_str());
    write_provider(L"CVTest AES Provider", PROV_RSA_AES, fake_aes.c_str());
    write_provider(L"CVTest Provider Without Image", PROV_RSA_FULL, nullptr);
    write_provider(L"CVTest Provider With Missing Image", PROV_RSA_FULL,
                   L"C:\\cvtest-no-such-folder\\missing.dll");

    // A sound registration is left alone.
    EXPECT_EQ(run_helper(L"provider").at("provider"),
              "Microsoft Enhanced Cryptographic Provider v1.0");
    EXPECT_EQ(read_log(log), L"");

    // Without the enhanced provider's entry, every registered full provider is
    // registered again; the system's own image brings the entry back.
    ASSERT_EQ(
        ::RegDeleteTreeW(
            HKEY_LOCAL_MACHINE,
            (std::wstring(kProviders) + L"Microsoft Enhanced Cryptographic Provider v1.0").c_str()),
        ERROR_SUCCESS);
    const auto provider = run_helper(L"provider");
    EXPECT_EQ(provider.at("provider"), "Microsoft Enhanced Cryptographic Provider v1.0");
    EXPECT_EQ(provider.at("runs"), "1");
    const std::wstring called = read_log(log);
    EXPECT_NE(called.find(L"crypto_fake_provider.dll\n"), std::wstring::npos) << called.c_str();
    EXPECT_EQ(called.find(L"fake_provider_aes.dll"), std::wstring::npos) << called.c_str();
    HKEY key = nullptr;
    EXPECT_EQ(
        ::RegOpenKeyExW(
            HKEY_LOCAL_MACHINE,
            (std::wstring(kProviders) + L"Microsoft Enhanced Cryptographic Provider v1.0").c_str(),
            0, KEY_READ, &key),
        ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  ::SetEnvironmentVariableW(L"CV_FAKE_PROVIDER_LOG", nullptr);
  ::DeleteFileW(fake_aes.c_str());
  ::DeleteFileW(log.c_str());
}

}  // namespace
}  // namespace crypto
