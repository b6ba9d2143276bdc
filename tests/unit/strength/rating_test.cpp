// Rating the stored passwords against the stand-ins: the model, the pass, the
// stored status and the ID-card component, and the work item's clean-up.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/obfuscated_text.h"
#include "strength/password_rating.h"
#include "strength/portable/update_date.h"
#include "strength/recalculate.h"
#include "support/com.h"
#include "support/registry.h"
#include "tests/support/free_spy.h"
#include "tests/support/traced_test_main.h"
#include "tests/unit/store/protected_storage_test_support.h"
#include "tests/unit/strength/strength_test_support.h"

namespace strength {
namespace {

using strengthtest::account;

constexpr wchar_t kIdCardKey[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard";

std::optional<DWORD> stored_status() {
  auto key = support::try_open_key(HKEY_CURRENT_USER, kIdCardKey, KEY_READ);
  return key ? support::try_get_dword(key->get(), L"IDCard_SS") : std::nullopt;
}

std::optional<DWORD> id_card_value(const wchar_t* name) {
  auto key = support::try_open_key(
      HKEY_CURRENT_USER, (std::wstring(CV_STANDIN_FAULT_KEY) + L"\\CVUserAuth").c_str(), KEY_READ);
  return key ? support::try_get_dword(key->get(), name) : std::nullopt;
}

std::string now_text(int days_back) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t t = static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  return format_update_date(t - static_cast<std::uint64_t>(days_back) * 864000000000ull);
}

// DllRegisterServer or DllUnregisterServer of the ID-card stand-in.
void call_entry(HMODULE module, const char* name) {
  using entry_fn = HRESULT(WINAPI*)();
  reinterpret_cast<entry_fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)))();
}

struct plain_resolver final : serialization::reference_resolver {
  serialization::secure_wstring Resolve(std::wstring_view) override { THROW_HR(E_UNEXPECTED); }
};

class Rating : public ::testing::Test {
 protected:
  Rating() {
    ::CoInitialize(nullptr);
    m_id_card = ::LoadLibraryW(testsupport::program_file(L"CVUserAuth.dll").c_str());
    call_entry(m_id_card, "DllRegisterServer");
    m_templates = {strengthtest::write_template(m_folder.path(), "{M}", "mail"),
                   strengthtest::write_template(m_folder.path(), "{B}", "bank"),
                   strengthtest::write_template(m_folder.path(), "{N}", "none")};
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kIdCardKey, L"IDCard_SS");
    testsupport::new_trace_lines();
  }
  ~Rating() override {
    call_entry(m_id_card, "DllUnregisterServer");
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kIdCardKey, L"IDCard_SS");
    ::RegDeleteTreeW(HKEY_CURRENT_USER,
                     (std::wstring(CV_STANDIN_FAULT_KEY) + L"\\CVUserAuth").c_str());
    ::CoUninitialize();
  }

  // Mail: one account, strong; bank: three accounts sharing "s3cret" and one
  // aged 200 days; no profile for the third template.
  void store_demo_accounts() {
    strengthtest::store_profiles(L"{M}",
                                 {account(0, L"Mail", L"alice", L"Correct-Horse-7", now_text(0))});
    strengthtest::store_profiles(L"{B}", {account(0, L"Bank", L"alice", L"s3cret", now_text(0)),
                                          account(1, L"Joint", L"bob", L"s3cret", now_text(0)),
                                          account(2, L"Old", L"carol", L"s3cret", now_text(200))});
  }

  testsupport::scoped_component_folder_t m_components{testsupport::program_file(L"")};
  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_folder;
  std::vector<std::wstring> m_templates;
  HMODULE m_id_card = nullptr;
};

TEST_F(Rating, TheModelHoldsNoPlainPasswordAndRatesEveryAccount) {
  store_demo_accounts();
  PasswordRatingModel model;
  plain_resolver resolver;
  BuildPasswordRatingModel(model, strengthtest::stored_text().c_str(), m_templates, resolver);
  ASSERT_EQ(model.logons.size(), 3u);
  EXPECT_EQ(model.logons[0].logon_name, L"mail");
  EXPECT_EQ(model.logons[0].quick_url, L"https://mail.example/");
  EXPECT_EQ(model.logons[0].template_id, L"{M}");
  EXPECT_EQ(model.logons[1].profile_name, L"Old");
  EXPECT_TRUE(model.logons[2].accounts.empty());
  const auto& bank = model.logons[1].accounts;
  ASSERT_EQ(bank.size(), 3u);
  EXPECT_EQ((std::vector{bank[0].TreePosition, bank[1].TreePosition, bank[2].TreePosition}),
            (std::vector{1, 1, 2}));
  EXPECT_EQ(model.logons[0].accounts[0].TreePosition, position_single);
  EXPECT_EQ(bank[1].account_label, L"User name");
  EXPECT_EQ(bank[1].account_value, L"bob");
  EXPECT_EQ(model.indexed_accounts(), 4u);

  for (const auto& logon : model.logons)
    for (const auto& a : logon.accounts) {
      EXPECT_EQ(a.password.find(L"s3cret"), std::wstring::npos);
      EXPECT_EQ(a.password.find(L"Correct"), std::wstring::npos);
      crypto::_mem_alloc_t<wchar_t, crypto::_heap_allocator> plain;  // the process's own form
      EXPECT_EQ(crypto::DeobfuscateFromText(a.password, plain), S_OK);
    }

  rating_settings_t settings;  // the defaults: three may share one password
  EXPECT_EQ(RatePasswords(model, settings, parse_update_date(now_text(0))), Strong);
  const auto r = [&](int logon, int n) { return model.logons[logon].accounts[n].ratings; };
  EXPECT_EQ(r(0, 0).overall, Strong);
  EXPECT_EQ(r(1, 0).sharing, Strong);
  EXPECT_EQ(r(1, 0).overall, Strong);
  EXPECT_EQ(r(1, 2).age, Weak);
  EXPECT_EQ(r(1, 2).overall, Medium);
  settings.pwd_share_accts = 0;  // 3 + 2 + 2 + 2 of 12: exactly 75 percent
  EXPECT_EQ(RatePasswords(model, settings, parse_update_date(now_text(0))), Strong);
  EXPECT_EQ(r(1, 0).sharing, Weak);
  EXPECT_EQ(r(1, 0).overall, Medium);
}

TEST_F(Rating, TheStatusIsStoredAndTheIdCardToldUnlessItFails) {
  PasswordRatingModel empty;
  EXPECT_EQ(RatePasswords(empty), NotRated);
  EXPECT_EQ(stored_status(), 0u);
  EXPECT_EQ(id_card_value(L"LastStatus"), 0u);
  EXPECT_EQ(id_card_value(L"RefreshCount"), 1u);

  struct {
    const wchar_t* fault;
    HRESULT hr;
    bool traced;
  } faults[] = {
      {L"QueryInterface", E_NOINTERFACE, false},
      {L"QueryInterface", E_ACCESSDENIED, true},
      {L"CreateInstance", E_OUTOFMEMORY, true},
      {L"Refresh", E_FAIL, true},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(testing::Message() << f.hr);
    testsupport::standin_faults_t injected(L"CVUserAuth");
    injected.fail(f.fault, f.hr);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kIdCardKey, L"IDCard_SS");
    EXPECT_TRUE(StoreOverallStatus(Weak));
    EXPECT_EQ(stored_status(), 1u);
    bool said = false;
    for (const auto& line : testsupport::new_trace_lines())
      said |= line == "E StoreOverallStatus -2147467259 Failed to refresh overall security status";
    EXPECT_EQ(said, f.traced);
  }
  EXPECT_EQ(id_card_value(L"RefreshCount"), 1u);

  call_entry(m_id_card, "DllUnregisterServer");
  EXPECT_TRUE(StoreOverallStatus(Strong));
  EXPECT_EQ(stored_status(), 3u);
  bool said = false;
  for (const auto& line : testsupport::new_trace_lines())
    said |= line.find("Failed to refresh overall security status") != std::string::npos;
  EXPECT_TRUE(said);
}

// Runs the work item on this thread with the text in a BSTR of its own.
void run_work_item(IDashBoardStorage* storage, const std::wstring& text) {
  auto* work = new strength_work_t;
  work->profile_data = ::SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
  work->storage = storage;
  storage->AddRef();
  EXPECT_EQ(PasswordStrengthThread(work), 0u);
}

TEST_F(Rating, TheWorkItemStoresNothingWhenTheFillInFailsAndWipesItsText) {
  store_demo_accounts();
  std::vector<std::wstring> list = m_templates;
  static std::vector<std::wstring>* s_list = &list;
  dashboard::set_manifest_lookup([](std::vector<std::wstring>& paths) { paths = *s_list; });
  support::com_ptr<IDashBoardStorage> storage;
  ASSERT_EQ(dashboard::OpenDashBoardStorage(storage.put()), S_OK);
  const std::wstring text(strengthtest::stored_text().view());

  {
    testsupport::standin_faults_t fillin(L"CvFillin");
    fillin.fail(L"dll_function_get_profiles", E_ACCESSDENIED);
    run_work_item(storage.get(), text);
    EXPECT_EQ(stored_status(), std::nullopt);
  }

  testsupport::free_spy spy;
  ASSERT_EQ(::CoRegisterMallocSpy(&spy), S_OK);
  run_work_item(storage.get(), text);
  ::CoRevokeMallocSpy();
  EXPECT_EQ(stored_status(), static_cast<DWORD>(Strong));
  // Every block freed, the BSTR among them, was wiped of the passwords first.
  const std::wstring_view secret = L"Correct-Horse-7";
  const auto* secret_bytes = reinterpret_cast<const BYTE*>(secret.data());
  bool found = false;
  for (const auto& freed : spy.take_freed()) {
    found |= freed.size() >= text.size() * sizeof(wchar_t);
    EXPECT_EQ(std::search(freed.begin(), freed.end(), secret_bytes,
                          secret_bytes + secret.size() * sizeof(wchar_t)),
              freed.end());
  }
  EXPECT_TRUE(found) << "the text's BSTR was not seen at its free";

  // The call the notification window makes: the storage interface failing.
  EXPECT_EQ(RecalculatePasswordStrength(nullptr, nullptr), E_POINTER);
  testsupport::standin_faults_t pstore(L"CvoPS");
  pstore.fail(L"CVOPSQuery", E_ACCESSDENIED);
  EXPECT_EQ(RecalculatePasswordStrength(nullptr, storage.get()), E_ACCESSDENIED);
  dashboard::set_manifest_lookup(nullptr);
}

}  // namespace
}  // namespace strength
