// The suite stand-ins loaded as the component loads them: from beside the
// program, entry points by name, data in the prefix's real registry and files.
#define SECURITY_WIN32
#include <windows.h>

#include <security.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "suite/include/suite_api.h"
#include "support/registry.h"
#include "support/unique_any.h"
#include "tests/support/win_test_helpers.h"

namespace {

using unique_bstr = support::unique_any<BSTR, decltype(&::SysFreeString), ::SysFreeString>;

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr wchar_t kUserSettings[] = L"Software\\Corvantis\\Settings";
constexpr wchar_t kMachineSettings[] = L"SOFTWARE\\Corvantis\\Settings";
constexpr wchar_t kPolicies[] = L"SOFTWARE\\Policies\\Corvantis\\Dashboard";
const std::wstring kFaults = std::wstring(CV_STANDIN_FAULT_KEY) + L"\\";
const std::wstring kUnique = std::to_wstring(::GetCurrentProcessId());

template <typename Fn>
Fn entry(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Registry values a test writes (or lets the code under test write): each is put
// back as it was, and keys the test brought into being are removed again.
class CRegistryScratch {
 public:
  ~CRegistryScratch() {
    for (auto it = m_values.rbegin(); it != m_values.rend(); ++it) {
      if (it->previous)
        ::RegSetKeyValueW(it->root, it->path.c_str(), it->name.c_str(), it->type,
                          it->previous->data(), static_cast<DWORD>(it->previous->size()));
      else
        ::RegDeleteKeyValueW(it->root, it->path.c_str(), it->name.c_str());
    }
    for (auto it = m_new_keys.rbegin(); it != m_new_keys.rend(); ++it)
      ::RegDeleteKeyW(it->first, it->second.c_str());  // refused while it has subkeys
  }
  void preserve(HKEY root, const std::wstring& path, const std::wstring& name) {
    for (size_t end = 0; end != std::wstring::npos;) {
      end = path.find(L'\\', end + 1);
      if (!support::try_open_key(root, path.substr(0, end).c_str(), KEY_READ))
        m_new_keys.emplace_back(root, path.substr(0, end));
    }
    saved_value saved{root, path, name, REG_NONE, std::vector<BYTE>(4096)};
    DWORD size = 4096;
    if (::RegGetValueW(root, path.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &saved.type,
                       saved.previous->data(), &size) == ERROR_SUCCESS)
      saved.previous->resize(size);
    else
      saved.previous.reset();
    m_values.push_back(std::move(saved));
  }
  void set(HKEY root,
           const std::wstring& path,
           const std::wstring& name,
           const std::wstring& text,
           DWORD type = REG_SZ) {
    preserve(root, path, name);
    ASSERT_EQ(::RegSetKeyValueW(root, path.c_str(), name.c_str(), type, text.c_str(),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  void set(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value) {
    preserve(root, path, name);
    ASSERT_EQ(::RegSetKeyValueW(root, path.c_str(), name.c_str(), REG_DWORD, &value, sizeof value),
              ERROR_SUCCESS);
  }

 private:
  struct saved_value {
    HKEY root;
    std::wstring path, name;
    DWORD type;
    std::optional<std::vector<BYTE>> previous;
  };
  std::vector<saved_value> m_values;
  std::vector<std::pair<HKEY, std::wstring>> m_new_keys;
};

// ---------------------------------------------------------------- CvoSet.dll

class SettingsStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dll.reset(::LoadLibraryW(L"CvoSet.dll"));
    ASSERT_TRUE(m_dll) << ::GetLastError();
    m_query = entry<api_settings_query_fn>(m_dll.get(), "api_settings_query");
    m_set = entry<api_settings_set_fn>(m_dll.get(), "api_settings_set");
    ASSERT_TRUE(m_query && m_set);
    for (const wchar_t* name : {L"show_training_prompt", L"open_security_manager_qa"})
      m_registry.preserve(HKEY_CURRENT_USER, kUserSettings, name);
  }
  HRESULT query(const std::wstring& name, std::wstring* text = nullptr) {
    const unique_bstr bname(::SysAllocString(name.c_str()));
    BSTR result = nullptr;
    SETTINGS_QUERY_REQUEST request{12, bname.get(), &result};
    const HRESULT hr = m_query(&request);
    const unique_bstr owned(result);
    EXPECT_EQ(SUCCEEDED(hr), result != nullptr) << "a result exactly on success";
    if (text && result)
      *text = std::wstring(result, ::SysStringLen(result));
    return hr;
  }
  std::wstring text_of(const std::wstring& name) {
    std::wstring text = L"<failed>";
    query(name, &text);
    return text;
  }
  HRESULT write(const std::wstring& name, const wchar_t* value) {
    const unique_bstr bname(::SysAllocString(name.c_str()));
    const unique_bstr bvalue(value ? ::SysAllocString(value) : nullptr);
    SETTINGS_SET_REQUEST request{12, bname.get(), bvalue.get()};
    return m_set(&request);
  }
  static std::optional<std::wstring> user_value(const std::wstring& name) {
    const auto key = support::try_open_key(HKEY_CURRENT_USER, kUserSettings, KEY_READ);
    return key ? support::try_get_string(key->get(), name.c_str()) : std::nullopt;
  }
  static DWORD WINAPI stalled_query(void* param) {
    auto* test = static_cast<SettingsStandIn*>(param);
    test->m_stalled_text = test->text_of(test->m_name);
    return 0;
  }

  CRegistryScratch m_registry;
  support::unique_hmodule m_dll;
  api_settings_query_fn m_query = nullptr;
  api_settings_set_fn m_set = nullptr;
  const std::wstring m_name = L"cvtest_setting_" + kUnique;
  std::wstring m_stalled_text;
};

TEST_F(SettingsStandIn, UserValuesOverMachineDefaults) {
  EXPECT_EQ(query(m_name), kNotFound);
  m_registry.set(HKEY_LOCAL_MACHINE, kMachineSettings, m_name, L"machine");
  EXPECT_EQ(text_of(m_name), L"machine");
  m_registry.set(HKEY_CURRENT_USER, kUserSettings, m_name, L"user");
  EXPECT_EQ(text_of(m_name), L"user");
  m_registry.set(HKEY_CURRENT_USER, kUserSettings, m_name, 5);  // not text: absent
  EXPECT_EQ(text_of(m_name), L"machine");
  m_registry.set(HKEY_LOCAL_MACHINE, kMachineSettings, m_name, L"%APPDATA%\\L", REG_EXPAND_SZ);
  wchar_t expanded[MAX_PATH];
  ::ExpandEnvironmentStringsW(L"%APPDATA%\\L", expanded, MAX_PATH);
  EXPECT_EQ(text_of(m_name), expanded);
  EXPECT_NE(text_of(m_name)[0], L'%');
}

TEST_F(SettingsStandIn, MalformedRequestsAreRejected) {
  const unique_bstr name(::SysAllocString(L"show_training_prompt"));
  const unique_bstr empty(::SysAllocString(L""));
  BSTR result = nullptr;
  SETTINGS_QUERY_REQUEST queries[] = {{8, name.get(), &result},
                                      {16, name.get(), &result},
                                      {12, nullptr, &result},
                                      {12, empty.get(), &result},
                                      {12, name.get(), nullptr}};
  for (auto& query : queries)
    EXPECT_EQ(m_query(&query), E_INVALIDARG);
  SETTINGS_SET_REQUEST sets[] = {{0, name.get(), name.get()}, {12, nullptr, name.get()}};
  for (auto& set : sets)
    EXPECT_EQ(m_set(&set), E_INVALIDARG);
  EXPECT_EQ(m_query(nullptr), E_INVALIDARG);
  EXPECT_EQ(m_set(nullptr), E_INVALIDARG);
  EXPECT_EQ(result, nullptr);
}

TEST_F(SettingsStandIn, OnlyTheDashboardsSettingsAreWritten) {
  ASSERT_EQ(write(L"show_training_prompt", L"-1"), S_OK);
  EXPECT_EQ(text_of(L"show_training_prompt"), L"-1");
  EXPECT_EQ(user_value(L"show_training_prompt"), L"-1");
  ASSERT_EQ(write(L"Open_Security_Manager_QA", L"Shift+Alt+116"), S_OK);
  EXPECT_EQ(user_value(L"open_security_manager_qa"), L"Shift+Alt+116");
  ASSERT_EQ(write(L"open_security_manager_qa", nullptr), S_OK);
  EXPECT_EQ(text_of(L"open_security_manager_qa"), L"");

  m_registry.preserve(HKEY_CURRENT_USER, kUserSettings, L"is_personalmode");
  const auto before = user_value(L"is_personalmode");
  EXPECT_EQ(write(L"is_personalmode", L"-1"), E_ACCESSDENIED);
  EXPECT_EQ(write(m_name, L"1"), E_ACCESSDENIED);
  EXPECT_EQ(user_value(L"is_personalmode"), before);
  EXPECT_EQ(user_value(m_name), std::nullopt);
}

TEST_F(SettingsStandIn, InjectedFailuresAndStalls) {
  const std::wstring faults = kFaults + L"CvoSet";
  m_registry.set(HKEY_LOCAL_MACHINE, kMachineSettings, m_name, L"7");
  m_registry.set(HKEY_CURRENT_USER, faults, L"Fail_api_settings_query", E_FAIL);
  EXPECT_EQ(query(m_name), E_FAIL);
  m_registry.set(HKEY_CURRENT_USER, faults, L"Fail_api_settings_query", 0u);
  EXPECT_EQ(query(m_name), S_OK);

  ASSERT_EQ(write(L"show_training_prompt", L"1"), S_OK);
  m_registry.set(HKEY_CURRENT_USER, faults, L"Fail_set_show_training_prompt", kNotFound);
  EXPECT_EQ(write(L"show_training_prompt", L"-1"), kNotFound);
  EXPECT_EQ(user_value(L"show_training_prompt"), L"1");
  EXPECT_EQ(write(L"open_security_manager_qa", L"Ctrl+Win+72"), S_OK);
  m_registry.set(HKEY_CURRENT_USER, faults, L"Fail_api_settings_set", E_OUTOFMEMORY);
  EXPECT_EQ(write(L"open_security_manager_qa", L"Ctrl+65"), E_OUTOFMEMORY);
  EXPECT_EQ(user_value(L"open_security_manager_qa"), L"Ctrl+Win+72");

  // A stall holds the call until its value goes away; then the call goes on.
  m_registry.set(HKEY_CURRENT_USER, faults, L"Stall_api_settings_query", 600000u);
  const support::unique_handle thread(::CreateThread(nullptr, 0, stalled_query, this, 0, nullptr));
  ASSERT_TRUE(thread);
  EXPECT_EQ(::WaitForSingleObject(thread.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, faults.c_str(), L"Stall_api_settings_query");
  ASSERT_EQ(::WaitForSingleObject(thread.get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(m_stalled_text, L"7");
}

// ---------------------------------------------------------------- CVFPApi.dll

class FingerprintStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dll.reset(::LoadLibraryW(L"CVFPApi.dll"));
    ASSERT_TRUE(m_dll) << ::GetLastError();
    m_policies = entry<CVFPGetPolicySettings_fn>(m_dll.get(), "CVFPGetPolicySettings");
    m_secret = entry<CVFPDoesSecretExist_fn>(m_dll.get(), "CVFPDoesSecretExist");
    ASSERT_TRUE(m_policies && m_secret);
  }
  static CVFP_POLICY_RECORD record(const std::wstring& name) {
    CVFP_POLICY_RECORD r{};
    name.copy(r.name, 31);
    r.status = 12345;
    r.value = 0xDEADBEEF;
    return r;
  }

  CRegistryScratch m_registry;
  support::unique_hmodule m_dll;
  CVFPGetPolicySettings_fn m_policies = nullptr;
  CVFPDoesSecretExist_fn m_secret = nullptr;
  const std::wstring m_faults = kFaults + L"CVFPApi";
};

TEST_F(FingerprintStandIn, PoliciesAreMachineValues) {
  const std::wstring name = L"CvTestPolicy" + kUnique;
  m_registry.set(HKEY_LOCAL_MACHINE, kPolicies, name, 7u);
  CVFP_POLICY_RECORD records[3] = {record(L"CvTestAbsent"), record(name), {}};
  std::fill(std::begin(records[2].name), std::end(records[2].name), L'x');  // unterminated
  ASSERT_EQ(m_policies(3, records), S_OK);
  EXPECT_EQ(records[0].status, kNotFound);
  EXPECT_EQ(records[0].value, 0u);
  EXPECT_EQ(records[1].status, S_OK);
  EXPECT_EQ(records[1].value, 7u);
  EXPECT_EQ(records[2].status, E_INVALIDARG);

  // The record can carry a failure while the call succeeds.
  m_registry.set(HKEY_LOCAL_MACHINE, kPolicies, L"Status_" + name, E_ACCESSDENIED);
  ASSERT_EQ(m_policies(1, &records[1]), S_OK);
  EXPECT_EQ(records[1].status, E_ACCESSDENIED);
  EXPECT_EQ(records[1].value, 7u);

  EXPECT_EQ(m_policies(0, records), E_INVALIDARG);
  EXPECT_EQ(m_policies(1, nullptr), E_INVALIDARG);
  m_registry.set(HKEY_CURRENT_USER, m_faults, L"Fail_CVFPGetPolicySettings", E_NOTIMPL);
  records[0] = record(name);
  EXPECT_EQ(m_policies(1, records), E_NOTIMPL);
  EXPECT_EQ(records[0].status, 12345);
}

TEST_F(FingerprintStandIn, SecretExistsWhenTheUsersStoreFileDoes) {
  namespace fs = std::filesystem;
  const std::wstring store = L"CvTest Store " + kUnique;
  wchar_t appdata[MAX_PATH];
  ::ExpandEnvironmentStringsW(L"%APPDATA%", appdata, MAX_PATH);
  const fs::path corvantis = fs::path(appdata) / L"Corvantis";
  const fs::path file = corvantis / L"PStore" / (store + L".dat");
  const fs::path made = fs::exists(corvantis / L"PStore") ? file
                        : fs::exists(corvantis)           ? corvantis / L"PStore"
                                                          : corvantis;
  const support::scope_exit cleanup([&] {
    std::error_code ignored;
    fs::remove_all(made, ignored);
  });
  wchar_t account[256];
  ULONG length = 256;
  ASSERT_TRUE(::GetUserNameExW(NameSamCompatible, account, &length));

  EXPECT_FALSE(m_secret(account, 3, store.c_str()));
  fs::create_directories(file.parent_path());
  ASSERT_TRUE(support::unique_file(
      ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
  EXPECT_TRUE(m_secret(account, 3, store.c_str()));
  EXPECT_TRUE(m_secret(nullptr, 3, store.c_str()));
  EXPECT_FALSE(m_secret(L"ELSEWHERE\\somebody", 3, store.c_str()));
  EXPECT_FALSE(m_secret(account, 3, (L"..\\PStore\\" + store).c_str()));
  EXPECT_FALSE(m_secret(account, 3, nullptr));

  m_registry.set(HKEY_CURRENT_USER, m_faults, L"SecretExists", 0u);
  EXPECT_FALSE(m_secret(account, 3, store.c_str()));
  m_registry.set(HKEY_CURRENT_USER, m_faults, L"SecretExists", 1u);
  EXPECT_TRUE(m_secret(account, 3, L"CvTest no such store"));
  m_registry.set(HKEY_CURRENT_USER, m_faults, L"Fail_CVFPDoesSecretExist", E_ACCESSDENIED);
  EXPECT_FALSE(m_secret(account, 3, store.c_str()));
  EXPECT_EQ(static_cast<HRESULT>(::GetLastError()), E_ACCESSDENIED);
}

// ---------------------------------------------------------------- CVBrand.dll

class BrandingLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dll.reset(::LoadLibraryExW(testsupport::program_file(L"CVBrand.dll").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(m_dll) << ::GetLastError();
  }
  std::wstring load(UINT id) {
    wchar_t text[260] = {};
    return std::wstring(text, std::max(::LoadStringW(m_dll.get(), id, text, 260), 0));
  }
  // The string as its table block holds it, in US English.
  std::wstring from_block(UINT id) {
    const HRSRC found = ::FindResourceExW(m_dll.get(), RT_STRING, MAKEINTRESOURCEW(id / 16 + 1),
                                          MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!found)
      return L"<no block>";
    auto* entry = static_cast<const WCHAR*>(::LockResource(::LoadResource(m_dll.get(), found)));
    for (UINT skip = id % 16; skip > 0; --skip)
      entry += 1 + *entry;
    return std::wstring(entry + 1, *entry);
  }

  support::unique_hmodule m_dll;
};

TEST_F(BrandingLibrary, ProductTextsAndPlaceholders) {
  for (const UINT id :
       {103, 115, 119, 120, 121, 122, 124, 127, 128, 129, 130, 131, 132, 133, 134}) {
    EXPECT_FALSE(load(id).empty()) << id;
    EXPECT_EQ(from_block(id), load(id)) << id;
  }
  EXPECT_EQ(load(900), L"") << "the branding key path is the component's own string";
  const std::wstring placeholder = L"<<%PN%>>";
  EXPECT_EQ(load(103).find(L"<<%"), std::wstring::npos);
  EXPECT_NE(load(122).find(placeholder), std::wstring::npos);
  const std::wstring twice = load(132);
  EXPECT_NE(twice.find(placeholder, twice.find(placeholder) + 1), std::wstring::npos);
}

}  // namespace
