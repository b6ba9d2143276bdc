// The suite stand-ins loaded as the component loads them: from beside the
// program, entry points by name, data in the prefix's real registry and files.
#define SECURITY_WIN32
#include <windows.h>

#include <security.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "suite/include/suite_api.h"
#include "support/registry.h"
#include "support/unique_any.h"

namespace {

using unique_bstr = support::unique_any<BSTR, decltype(&::SysFreeString), ::SysFreeString>;

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr wchar_t kUserSettings[] = L"Software\\Corvantis\\Settings";
constexpr wchar_t kMachineSettings[] = L"SOFTWARE\\Corvantis\\Settings";
constexpr wchar_t kPolicies[] = L"SOFTWARE\\Policies\\Corvantis\\Dashboard";
const std::wstring kFaults = std::wstring(CV_STANDIN_FAULT_KEY) + L"\\";

std::wstring unique_name(const wchar_t* stem) {
  return stem + std::to_wstring(::GetCurrentProcessId());
}

template <typename Fn>
Fn entry(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Registry values a test writes; each is put back as it was (or removed) at the
// end, and keys that the test brought into being are removed once empty.
class CRegistryScratch {
 public:
  CRegistryScratch() = default;
  CRegistryScratch(const CRegistryScratch&) = delete;
  CRegistryScratch& operator=(const CRegistryScratch&) = delete;
  ~CRegistryScratch() {
    for (auto it = m_values.rbegin(); it != m_values.rend(); ++it) {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(it->root, it->path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        continue;
      if (it->previous)
        ::RegSetValueExW(key, it->name.c_str(), 0, it->type, it->previous->data(),
                         static_cast<DWORD>(it->previous->size()));
      else
        ::RegDeleteValueW(key, it->name.c_str());
      ::RegCloseKey(key);
    }
    for (auto it = m_new_keys.rbegin(); it != m_new_keys.rend(); ++it) {
      DWORD subkeys = 1;
      DWORD values = 1;
      if (auto key = support::try_open_key(it->first, it->second.c_str(), KEY_READ)) {
        ::RegQueryInfoKeyW(key->get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr);
      }
      if (subkeys == 0 && values == 0)
        ::RegDeleteKeyW(it->first, it->second.c_str());
    }
  }

  void set(HKEY root,
           const std::wstring& path,
           const std::wstring& name,
           DWORD type,
           const void* data,
           DWORD size) {
    support::unique_hkey key = create(root, path);
    remember(key.get(), root, path, name);
    ASSERT_EQ(
        ::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
        ERROR_SUCCESS);
  }
  void set_string(HKEY root,
                  const std::wstring& path,
                  const std::wstring& name,
                  const std::wstring& text,
                  DWORD type = REG_SZ) {
    set(root, path, name, type, text.c_str(),
        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void set_dword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value) {
    set(root, path, name, REG_DWORD, &value, sizeof value);
  }
  // For values that the code under test writes.
  void preserve(HKEY root, const std::wstring& path, const std::wstring& name) {
    remember(create(root, path).get(), root, path, name);
  }

 private:
  struct saved_value {
    HKEY root;
    std::wstring path;
    std::wstring name;
    DWORD type;
    std::optional<std::vector<BYTE>> previous;
  };

  support::unique_hkey create(HKEY root, const std::wstring& path) {
    for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
      const std::wstring part = path.substr(0, end);
      if (!support::try_open_key(root, part.c_str(), KEY_READ))
        m_new_keys.emplace_back(root, part);
      if (end == std::wstring::npos)
        break;
    }
    HKEY key = nullptr;
    ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return support::unique_hkey(key);
  }
  void remember(HKEY key, HKEY root, const std::wstring& path, const std::wstring& name) {
    saved_value saved{root, path, name, REG_NONE, std::nullopt};
    DWORD size = 0;
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &saved.type, nullptr, &size) ==
        ERROR_SUCCESS) {
      saved.previous.emplace(size);
      ::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, saved.previous->data(), &size);
    }
    m_values.push_back(std::move(saved));
  }

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
  }

  HRESULT query(const std::wstring& name, std::wstring& text) {
    const unique_bstr bname(::SysAllocString(name.c_str()));
    BSTR result = nullptr;
    SETTINGS_QUERY_REQUEST request{12, bname.get(), &result};
    const HRESULT hr = m_query(&request);
    const unique_bstr owned(result);
    EXPECT_EQ(SUCCEEDED(hr), result != nullptr) << "a result exactly on success";
    text = result ? std::wstring(result, ::SysStringLen(result)) : L"";
    return hr;
  }
  HRESULT write(const std::wstring& name, const wchar_t* value) {
    const unique_bstr bname(::SysAllocString(name.c_str()));
    const unique_bstr bvalue(value ? ::SysAllocString(value) : nullptr);
    SETTINGS_SET_REQUEST request{12, bname.get(), bvalue.get()};
    return m_set(&request);
  }
  std::optional<std::wstring> user_value(const wchar_t* name) {
    const auto key = support::try_open_key(HKEY_CURRENT_USER, kUserSettings, KEY_READ);
    return key ? support::try_get_string(key->get(), name) : std::nullopt;
  }

  struct call_t {
    SettingsStandIn* test;
    std::wstring name;
    std::wstring text;
    HRESULT hr = E_PENDING;
  };
  static DWORD WINAPI query_thread(void* param) {
    auto* call = static_cast<call_t*>(param);
    call->hr = call->test->query(call->name, call->text);
    return 0;
  }

  support::unique_hmodule m_dll;
  api_settings_query_fn m_query = nullptr;
  api_settings_set_fn m_set = nullptr;
  CRegistryScratch m_registry;
  const std::wstring m_name = unique_name(L"cvtest_setting_");
};

TEST_F(SettingsStandIn, UserValueOverridesMachineDefault) {
  std::wstring text;
  EXPECT_EQ(query(m_name, text), kNotFound);
  m_registry.set_string(HKEY_LOCAL_MACHINE, kMachineSettings, m_name, L"machine");
  ASSERT_EQ(query(m_name, text), S_OK);
  EXPECT_EQ(text, L"machine");
  m_registry.set_string(HKEY_CURRENT_USER, kUserSettings, m_name, L"user value");
  ASSERT_EQ(query(m_name, text), S_OK);
  EXPECT_EQ(text, L"user value");
  // A user value of another type does not hide the default.
  m_registry.set_dword(HKEY_CURRENT_USER, kUserSettings, m_name, 5);
  ASSERT_EQ(query(m_name, text), S_OK);
  EXPECT_EQ(text, L"machine");
}

TEST_F(SettingsStandIn, ExpandableDefaultsNameTheUsersFolders) {
  m_registry.set_string(HKEY_LOCAL_MACHINE, kMachineSettings, m_name, L"%APPDATA%\\Logons\\",
                        REG_EXPAND_SZ);
  wchar_t expected[MAX_PATH];
  ::ExpandEnvironmentStringsW(L"%APPDATA%\\Logons\\", expected, MAX_PATH);
  std::wstring text;
  ASSERT_EQ(query(m_name, text), S_OK);
  EXPECT_EQ(text, expected);
  EXPECT_EQ(text.find(L'%'), std::wstring::npos);
}

TEST_F(SettingsStandIn, MalformedRequestsAreRejected) {
  const unique_bstr name(::SysAllocString(L"is_personalmode"));
  const unique_bstr empty(::SysAllocString(L""));
  BSTR result = nullptr;
  for (const DWORD size : {0u, 8u, 16u}) {
    SETTINGS_QUERY_REQUEST request{size, name.get(), &result};
    EXPECT_EQ(m_query(&request), E_INVALIDARG) << size;
    SETTINGS_SET_REQUEST set{size, name.get(), name.get()};
    EXPECT_EQ(m_set(&set), E_INVALIDARG) << size;
  }
  SETTINGS_QUERY_REQUEST no_name{12, nullptr, &result};
  SETTINGS_QUERY_REQUEST empty_name{12, empty.get(), &result};
  SETTINGS_QUERY_REQUEST no_result{12, name.get(), nullptr};
  EXPECT_EQ(m_query(&no_name), E_INVALIDARG);
  EXPECT_EQ(m_query(&empty_name), E_INVALIDARG);
  EXPECT_EQ(m_query(&no_result), E_INVALIDARG);
  EXPECT_EQ(m_query(nullptr), E_INVALIDARG);
  SETTINGS_SET_REQUEST set_no_name{12, nullptr, name.get()};
  EXPECT_EQ(m_set(&set_no_name), E_INVALIDARG);
  EXPECT_EQ(m_set(nullptr), E_INVALIDARG);
  EXPECT_EQ(result, nullptr);
}

TEST_F(SettingsStandIn, OnlyTheDashboardsSettingsAreWritten) {
  m_registry.preserve(HKEY_CURRENT_USER, kUserSettings, L"show_training_prompt");
  m_registry.preserve(HKEY_CURRENT_USER, kUserSettings, L"open_security_manager_qa");
  std::wstring text;
  ASSERT_EQ(write(L"show_training_prompt", L"-1"), S_OK);
  ASSERT_EQ(query(L"show_training_prompt", text), S_OK);
  EXPECT_EQ(text, L"-1");
  EXPECT_EQ(user_value(L"show_training_prompt"), L"-1");
  // Names compare as the registry compares them; a null value is the empty text.
  ASSERT_EQ(write(L"Open_Security_Manager_QA", L"Shift+Alt+116"), S_OK);
  EXPECT_EQ(user_value(L"open_security_manager_qa"), L"Shift+Alt+116");
  ASSERT_EQ(write(L"open_security_manager_qa", nullptr), S_OK);
  ASSERT_EQ(query(L"open_security_manager_qa", text), S_OK);
  EXPECT_EQ(text, L"");

  m_registry.preserve(HKEY_CURRENT_USER, kUserSettings, L"is_personalmode");
  const auto before = user_value(L"is_personalmode");
  EXPECT_EQ(write(L"is_personalmode", L"-1"), E_ACCESSDENIED);
  EXPECT_EQ(write(m_name, L"1"), E_ACCESSDENIED);
  EXPECT_EQ(user_value(L"is_personalmode"), before);
  EXPECT_EQ(user_value(m_name.c_str()), std::nullopt);
}

TEST_F(SettingsStandIn, InjectedFailuresAndStalls) {
  const std::wstring faults = kFaults + L"CvoSet";
  m_registry.preserve(HKEY_CURRENT_USER, kUserSettings, L"show_training_prompt");
  m_registry.preserve(HKEY_CURRENT_USER, kUserSettings, L"open_security_manager_qa");
  m_registry.set_string(HKEY_LOCAL_MACHINE, kMachineSettings, m_name, L"7");
  std::wstring text;

  m_registry.set_dword(HKEY_CURRENT_USER, faults, L"Fail_api_settings_query", E_FAIL);
  EXPECT_EQ(query(m_name, text), E_FAIL);
  m_registry.set_dword(HKEY_CURRENT_USER, faults, L"Fail_api_settings_query", 0);
  EXPECT_EQ(query(m_name, text), S_OK);

  ASSERT_EQ(write(L"show_training_prompt", L"1"), S_OK);
  m_registry.set_dword(HKEY_CURRENT_USER, faults, L"Fail_set_show_training_prompt", kNotFound);
  EXPECT_EQ(write(L"show_training_prompt", L"-1"), kNotFound);
  EXPECT_EQ(user_value(L"show_training_prompt"), L"1");
  EXPECT_EQ(write(L"open_security_manager_qa", L"Ctrl+Win+72"), S_OK);
  m_registry.set_dword(HKEY_CURRENT_USER, faults, L"Fail_api_settings_set", E_OUTOFMEMORY);
  EXPECT_EQ(write(L"open_security_manager_qa", L"Ctrl+65"), E_OUTOFMEMORY);
  EXPECT_EQ(user_value(L"open_security_manager_qa"), L"Ctrl+Win+72");

  // A stall holds the call until its value goes away.
  m_registry.set_dword(HKEY_CURRENT_USER, faults, L"Stall_api_settings_query", 600000);
  call_t call{this, m_name};
  const support::unique_handle thread(::CreateThread(nullptr, 0, query_thread, &call, 0, nullptr));
  ASSERT_TRUE(thread);
  EXPECT_EQ(::WaitForSingleObject(thread.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
  const auto key = support::try_open_key(HKEY_CURRENT_USER, faults.c_str(), KEY_SET_VALUE);
  ASSERT_TRUE(key);
  ::RegDeleteValueW(key->get(), L"Stall_api_settings_query");
  ASSERT_EQ(::WaitForSingleObject(thread.get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(call.hr, S_OK);
  EXPECT_EQ(call.text, L"7");
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

  support::unique_hmodule m_dll;
  CVFPGetPolicySettings_fn m_policies = nullptr;
  CVFPDoesSecretExist_fn m_secret = nullptr;
  CRegistryScratch m_registry;
  const std::wstring m_name = unique_name(L"CvTestPolicy");
};

TEST_F(FingerprintStandIn, PoliciesAreMachineValues) {
  m_registry.set_dword(HKEY_LOCAL_MACHINE, kPolicies, m_name, 7);
  CVFP_POLICY_RECORD records[3] = {record(L"CvTestAbsent"), record(m_name), {}};
  std::fill(std::begin(records[2].name), std::end(records[2].name), L'x');  // unterminated
  ASSERT_EQ(m_policies(3, records), S_OK);
  EXPECT_EQ(records[0].status, kNotFound);
  EXPECT_EQ(records[0].value, 0u);
  EXPECT_EQ(records[1].status, S_OK);
  EXPECT_EQ(records[1].value, 7u);
  EXPECT_EQ(records[2].status, E_INVALIDARG);

  // The record status can fail while the call succeeds.
  m_registry.set_dword(HKEY_LOCAL_MACHINE, kPolicies, L"Status_" + m_name, E_ACCESSDENIED);
  ASSERT_EQ(m_policies(1, &records[1]), S_OK);
  EXPECT_EQ(records[1].status, E_ACCESSDENIED);
  EXPECT_EQ(records[1].value, 7u);

  EXPECT_EQ(m_policies(0, records), E_INVALIDARG);
  EXPECT_EQ(m_policies(1, nullptr), E_INVALIDARG);
  m_registry.set_dword(HKEY_CURRENT_USER, kFaults + L"CVFPApi", L"Fail_CVFPGetPolicySettings",
                       E_NOTIMPL);
  records[0] = record(m_name);
  EXPECT_EQ(m_policies(1, records), E_NOTIMPL);
  EXPECT_EQ(records[0].status, 12345);
}

TEST_F(FingerprintStandIn, SecretExistsWhenTheUsersStoreFileDoes) {
  const std::wstring store = unique_name(L"CvTest Store ");
  wchar_t appdata[MAX_PATH];
  ::ExpandEnvironmentStringsW(L"%APPDATA%", appdata, MAX_PATH);
  const std::wstring corvantis = std::wstring(appdata) + L"\\Corvantis";
  const std::wstring folder = corvantis + L"\\PStore";
  const std::wstring file = folder + L"\\" + store + L".dat";
  const bool made_corvantis = ::CreateDirectoryW(corvantis.c_str(), nullptr);
  const bool made_folder = ::CreateDirectoryW(folder.c_str(), nullptr);
  const support::scope_exit cleanup([&] {
    ::DeleteFileW(file.c_str());
    if (made_folder)
      ::RemoveDirectoryW(folder.c_str());
    if (made_corvantis)
      ::RemoveDirectoryW(corvantis.c_str());
  });
  wchar_t account[256];
  ULONG length = 256;
  ASSERT_TRUE(::GetUserNameExW(NameSamCompatible, account, &length));

  EXPECT_FALSE(m_secret(account, 3, store.c_str()));
  ASSERT_TRUE(support::unique_file(
      ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
  EXPECT_TRUE(m_secret(account, 3, store.c_str()));
  EXPECT_TRUE(m_secret(nullptr, 3, store.c_str()));
  EXPECT_FALSE(m_secret(L"ELSEWHERE\\somebody", 3, store.c_str()));
  EXPECT_FALSE(m_secret(account, 3, (L"..\\PStore\\" + store).c_str()));
  EXPECT_FALSE(m_secret(account, 3, nullptr));

  const std::wstring faults = kFaults + L"CVFPApi";
  m_registry.set_dword(HKEY_CURRENT_USER, faults, L"SecretExists", 0);
  EXPECT_FALSE(m_secret(account, 3, store.c_str()));
  m_registry.set_dword(HKEY_CURRENT_USER, faults, L"SecretExists", 1);
  EXPECT_TRUE(m_secret(account, 3, L"CvTest no such store"));
  m_registry.set_dword(HKEY_CURRENT_USER, faults, L"Fail_CVFPDoesSecretExist", E_ACCESSDENIED);
  ::SetLastError(0);
  EXPECT_FALSE(m_secret(account, 3, store.c_str()));
  EXPECT_EQ(static_cast<HRESULT>(::GetLastError()), E_ACCESSDENIED);
}

// ---------------------------------------------------------------- CVBrand.dll

class BrandingLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll = path;
    dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + L"CVBrand.dll";
    m_dll.reset(::LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(m_dll) << ::GetLastError();
  }
  std::wstring load(UINT id) {
    wchar_t text[260] = {};
    const int length = ::LoadStringW(m_dll.get(), id, text, 260);
    return std::wstring(text, length > 0 ? length : 0);
  }
  // The string as its table block holds it, in US English.
  std::wstring from_block(UINT id) {
    const HRSRC found = ::FindResourceExW(m_dll.get(), RT_STRING, MAKEINTRESOURCEW(id / 16 + 1),
                                          MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!found)
      return L"<no block>";
    const auto* entry =
        static_cast<const WCHAR*>(::LockResource(::LoadResource(m_dll.get(), found)));
    for (UINT skip = id % 16; skip > 0; --skip)
      entry += 1 + *entry;
    return std::wstring(entry + 1, *entry);
  }

  support::unique_hmodule m_dll;
};

TEST_F(BrandingLibrary, EveryProductTextIsThere) {
  for (const UINT id :
       {103, 115, 119, 120, 121, 122, 124, 127, 128, 129, 130, 131, 132, 133, 134}) {
    const std::wstring text = load(id);
    EXPECT_FALSE(text.empty()) << id;
    EXPECT_EQ(from_block(id), text) << id;
  }
  EXPECT_EQ(load(900), L"") << "the key path string belongs to the component";
}

TEST_F(BrandingLibrary, ProductNamePlaceholders) {
  const std::wstring placeholder = L"<<%PN%>>";
  EXPECT_EQ(load(103).find(L"<<%"), std::wstring::npos);
  const std::wstring twice = load(132);
  const size_t first = twice.find(placeholder);
  ASSERT_NE(first, std::wstring::npos);
  EXPECT_NE(twice.find(placeholder, first + 1), std::wstring::npos);
  EXPECT_NE(load(122).find(placeholder), std::wstring::npos);
}

}  // namespace
