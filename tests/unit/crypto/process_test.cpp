// What only other processes show: envelopes stay inside their process, the
// provider check runs once per process, and the providers' registration in the
// real registry is repaired (each test restores what it changes).
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/crypt_blob.h"
#include "crypto/crypt_context.h"
#include "crypto/obfuscated_text.h"
#include "support/registry.h"
#include "tests/support/win_test_helpers.h"

namespace crypto {
namespace {

constexpr wchar_t kProviders[] = L"Software\\Microsoft\\Cryptography\\Defaults\\Provider\\";
constexpr wchar_t kEnhanced[] = L"Microsoft Enhanced Cryptographic Provider v1.0";

// Runs the helper program and returns its "key=value" output lines.
std::map<std::string, std::string> run_helper(const std::wstring& arguments) {
  const auto run = testsupport::run_program(
      L"\"" + testsupport::program_file(L"crypto_test_helper.exe") + L"\" " + arguments);
  std::map<std::string, std::string> values;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    if (const auto equals = line.find('='); equals != std::string::npos)
      values[line.substr(0, equals)] = line.substr(equals + 1);
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

// Saves a key of the registered providers (in a copy under HKCU) and puts it
// back exactly as it was when destroyed.
class saved_provider_key {
 public:
  explicit saved_provider_key(const std::wstring& name) : m_path(kProviders + name) {
    const auto key = support::try_open_key(HKEY_LOCAL_MACHINE, m_path.c_str(), KEY_READ);
    m_existed = key.has_value();
    if (m_existed) {
      EXPECT_EQ(::RegCopyTreeW(key->get(), nullptr, m_copy.get()), ERROR_SUCCESS);
    }
  }
  ~saved_provider_key() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str());
    HKEY key = nullptr;
    if (m_existed && ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      ::RegCopyTreeW(m_copy.get(), nullptr, key);
      ::RegCloseKey(key);
    }
  }
  bool existed() const { return m_existed; }

 private:
  std::wstring m_path;
  const testsupport::scratch_key_t m_copy{L"provider"};
  bool m_existed = false;
};

void write_provider(const std::wstring& name, DWORD type, const wchar_t* image) {
  ASSERT_EQ(testsupport::set_reg_dword(HKEY_LOCAL_MACHINE, kProviders + name, L"Type", type),
            ERROR_SUCCESS);
  if (image != nullptr)
    testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kProviders + name, L"Image Path", image);
}

std::wstring read_log(const std::wstring& path) {
  const std::string bytes = testsupport::read_file(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
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
  const saved_provider_key enhanced(kEnhanced);
  ASSERT_TRUE(enhanced.existed());
  write_provider(kEnhanced, PROV_RSA_FULL, L"C:\\cvtest-no-such-folder\\no_such_provider.dll");
  const auto provider = run_helper(L"provider");
  EXPECT_EQ(provider.count("hr"), 0u);
  EXPECT_EQ(provider.at("provider"), "Microsoft Base Cryptographic Provider v1.0");
}

TEST(ProviderRegistry, MissingProviderIsRepairedByReregisteringFullProviders) {
  const testsupport::scratch_folder_t scratch;
  const std::wstring fake = testsupport::program_file(L"crypto_fake_provider.dll");
  const std::wstring fake_aes = scratch.path() + L"fake_provider_aes.dll";
  const std::wstring log = scratch.path() + L"fake_provider.log";
  ASSERT_TRUE(::CopyFileW(fake.c_str(), fake_aes.c_str(), FALSE));
  const testsupport::scoped_environment_t log_variable(L"CV_FAKE_PROVIDER_LOG", log);

  const saved_provider_key enhanced(kEnhanced);
  ASSERT_TRUE(enhanced.existed());
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
    ASSERT_EQ(::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kProviders + std::wstring(kEnhanced)).c_str()),
              ERROR_SUCCESS);
    const auto provider = run_helper(L"provider");
    EXPECT_EQ(provider.at("provider"), "Microsoft Enhanced Cryptographic Provider v1.0");
    EXPECT_EQ(provider.at("runs"), "1");
    const std::wstring called = read_log(log);
    EXPECT_NE(called.find(L"crypto_fake_provider.dll\n"), std::wstring::npos) << called.c_str();
    EXPECT_EQ(called.find(L"fake_provider_aes.dll"), std::wstring::npos) << called.c_str();
    EXPECT_TRUE(support::try_open_key(HKEY_LOCAL_MACHINE,
                                      (kProviders + std::wstring(kEnhanced)).c_str(), KEY_READ));
  }
}

}  // namespace
}  // namespace crypto
