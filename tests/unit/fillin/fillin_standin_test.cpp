// The fill-in stand-in through the loader: profiles kept in the protected
// storage's profile text, round trips through the real protected-storage
// stand-in (a store of the test's own), thousands of templates, and the
// entry points the component only resolves.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "store/fillin_components.h"
#include "store/protected_storage.h"
#include "suite/CvFillin/profile_text.h"
#include "support/hresult.h"
#include "templates/portable/manifest_text.h"
#include "tests/unit/fillin/fillin_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace fillin {
namespace {

using filltest::beside_program;
using filltest::record;
using serialization::cvprofile_t;
using serialization::cvprofiles_t;

const HRESULT kNotProfileData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

class FillinStandIn : public ::testing::Test {
 protected:
  const CFillinComponent& fill() {
    static const CFillinComponent library(beside_program(L"CvFillin.dll"));
    return library;
  }
  const fillin_entry_points_t& entry() { return fill().entry_points(); }

  // Calls an entry point that returns a new text; the text, or the failure.
  template <typename Call>
  std::pair<HRESULT, std::wstring> changed_text(Call&& call) {
    LPWSTR text = nullptr;
    const HRESULT hr = call(&text);
    std::wstring out = text ? text : L"";
    ::CoTaskMemFree(text);
    return {hr, out};
  }
};

TEST_F(FillinStandIn, ProfilesGoThroughTheProtectedStorageAndComeBack) {
  pstest::scratch_store store;
  filltest::scoped_environment use_store(L"CVOPS_STANDIN_STORE", store.name());
  const pstore::CProtectedStorage ps(beside_program(L"CvoPS.dll"));

  const cvprofiles_t mail = {
      record(0, L"Work", {{L"E-mail", "email", L"alice@example.com"}, {L"Password", "pw", L"1"}}),
      record(1, L"Home", {{L"E-mail", "email", L"alice@home.example"}, {L"Password", "pw", L"2"}}),
  };
  const cvprofiles_t bank = {record(0, L"Giro", {{L"Card", "card", L"4711 0815\nline two"}})};
  {
    const pstore::handle_t h = ps.init();
    serialization::secure_wstring text = ps.query(h, nullptr);
    EXPECT_TRUE(text.empty());
    EXPECT_TRUE(fill().get_profiles(L"{MAIL}", text.c_str()).empty());
    text = fill().update_profiles(L"{MAIL}", text.c_str(), mail);
    text = fill().update_profiles(L"{BANK}", text.c_str(), bank);
    ps.save(h, text.c_str());
    ps.commit(h);
    ps.term(h);
  }
  const pstore::handle_t h = ps.init();
  const serialization::secure_wstring stored = ps.query(h, nullptr);
  EXPECT_EQ(stored.view().substr(0, 16), L"CVProfileData 1\n");
  EXPECT_EQ(fill().get_profiles(L"{MAIL}", stored.c_str()), mail);
  EXPECT_EQ(fill().get_profiles(L"{mail}", stored.c_str()), mail);
  EXPECT_EQ(fill().get_profiles(L"{BANK}", stored.c_str()), bank);
  EXPECT_TRUE(fill().get_profiles(L"{NONE}", stored.c_str()).empty());

  // Records marked deleted are left out; a list with nothing left removes
  // the template.
  cvprofiles_t fewer = mail;
  fewer[0].operation = 2;
  const auto after_delete = fill().update_profiles(L"{MAIL}", stored.c_str(), fewer);
  EXPECT_EQ(fill().get_profiles(L"{MAIL}", after_delete.c_str()), cvprofiles_t{mail[1]});
  fewer[1].operation = 2;
  const auto none_left = fill().update_profiles(L"{MAIL}", after_delete.c_str(), fewer);
  EXPECT_EQ(none_left.view().find(L"{MAIL}"), std::wstring_view::npos);
  EXPECT_EQ(fill().get_profiles(L"{BANK}", none_left.c_str()), bank);
  ps.term(h);
}

TEST_F(FillinStandIn, TextOfAnotherKindIsReadAsEmptyAndNeverOverwritten) {
  const wchar_t* foreign = L"OtherSuiteProfiles 3\n[template]\nid={T}\n[record]\nprofilename=x\n";
  EXPECT_TRUE(fill().get_profiles(L"{T}", foreign).empty());
  try {
    fill().update_profiles(L"{T}", foreign, {record(0, L"mine", {})});
    ADD_FAILURE() << "a foreign text was overwritten";
  } catch (const support::hresult_error& e) {
    EXPECT_EQ(e.code(), kNotProfileData);
  }
}

TEST_F(FillinStandIn, ArgumentsAreChecked) {
  const fillin_entry_points_t& e = entry();
  BYTE* bytes = reinterpret_cast<BYTE*>(1);
  DWORD size = 7;
  EXPECT_EQ(e.dll_function_get_profiles(L"{T}", L"", nullptr, &size), E_POINTER);
  EXPECT_EQ(e.dll_function_get_profiles(L"{T}", L"", &bytes, nullptr), E_POINTER);
  EXPECT_EQ(e.dll_function_get_profiles(L"", L"", &bytes, &size), E_INVALIDARG);
  EXPECT_EQ(bytes, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(e.dll_function_get_profiles(nullptr, L"", &bytes, &size), E_INVALIDARG);

  const BYTE junk[] = "not an image";
  EXPECT_EQ(changed_text([&](LPWSTR* t) {
              return e.dll_function_update_profiles(L"{T}", L"", junk, sizeof junk, t);
            }).first,
            kNotProfileData);
  EXPECT_EQ(changed_text([&](LPWSTR* t) {
              return e.dll_function_update_profiles(L"{T}", L"", nullptr, 10, t);
            }).first,
            E_POINTER);
  EXPECT_EQ(e.dll_function_update_profiles(L"{T}", L"", nullptr, 0, nullptr), E_POINTER);
  EXPECT_EQ(changed_text([&](LPWSTR* t) {
              return e.dll_function_update_profiles(nullptr, L"", nullptr, 0, t);
            }).first,
            E_INVALIDARG);
}

// The profiles of every template of a large text, one call each, as the
// rating and the logon list ask for them; then updates of single templates.
TEST_F(FillinStandIn, ThousandsOfTemplates) {
  constexpr int kTemplates = 3000;
  cvfillin::secret_text text;
  const std::wstring_view header = cvfillin::kProfileDataHeader;
  text.insert(text.end(), header.begin(), header.end());
  text.push_back(L'\n');
  std::vector<std::pair<std::wstring, cvprofiles_t>> templates;
  for (int t = 0; t < kTemplates; ++t) {
    const std::wstring id = L"{TEMPLATE-" + std::to_wstring(t) + L"}";
    cvprofiles_t list;
    for (int p = 0; p <= t % 2; ++p)
      list.push_back(
          record(p, L"Account " + std::to_wstring(p),
                 {{L"User", "user", L"user" + std::to_wstring(t)},
                  {L"Password", "pw", L"pw" + std::to_wstring(t) + L"." + std::to_wstring(p)}}));
    cvfillin::write_template(text, id, list);
    templates.emplace_back(id, std::move(list));
  }
  std::wstring data(text.begin(), text.end());
  for (const auto& [id, list] : templates)
    ASSERT_EQ(fill().get_profiles(id.c_str(), data.c_str()), list);

  for (int t : {0, 1499, 2999}) {
    const auto& id = templates[t].first;
    templates[t].second = {record(7, L"changed " + std::to_wstring(t), {})};
    data =
        std::wstring(fill().update_profiles(id.c_str(), data.c_str(), templates[t].second).view());
  }
  for (const auto& [id, list] : templates)
    ASSERT_EQ(fill().get_profiles(id.c_str(), data.c_str()), list);
}

TEST_F(FillinStandIn, TheEntryPointsTheComponentOnlyResolvesWorkToo) {
  const fillin_entry_points_t& e = entry();
  const cvprofiles_t stored = {
      record(0, L"First", {{L"User", "user", L"ann"}, {L"Password", "pw", L"550-08-60 ref"}}),
      record(3, L"Second", {{L"User", "user", L"bob"}, {L"Password", "pw", L"old"}}),
  };
  const std::wstring data(fill().update_profiles(L"{T}", L"", stored).view());

  // A new, empty profile after the highest index.
  const auto created = changed_text(
      [&](LPWSTR* t) { return e.dll_function_createprofile(L"{T}", data.c_str(), L"Third", t); });
  ASSERT_EQ(created.first, S_OK);
  const cvprofiles_t with_third = fill().get_profiles(L"{T}", created.second.c_str());
  ASSERT_EQ(with_third.size(), 3u);
  EXPECT_EQ(with_third[2].profileindex, 4);
  EXPECT_EQ(with_third[2].profilename, L"Third");
  EXPECT_EQ(with_third[2].operation, 1);

  // One record replaced by profile and form index, or added.
  const auto modified_image = [&](const cvprofile_t& r) {
    serialization::memoryblock_T<serialization::aloocator_cpp> image;
    serialization::SaveProfileImage(r, image);
    return changed_text([&](LPWSTR* t) {
      return e.dll_function_modifyprofile(L"{T}", data.c_str(), image.data(), image.size(), t);
    });
  };
  const cvprofile_t replacement = record(3, L"Second, renamed", {});
  const auto replaced = modified_image(replacement);
  ASSERT_EQ(replaced.first, S_OK);
  EXPECT_EQ(fill().get_profiles(L"{T}", replaced.second.c_str()),
            (cvprofiles_t{stored[0], replacement}));
  cvprofile_t other_form = replacement;
  other_form.formindex = 1;
  EXPECT_EQ(fill().get_profiles(L"{T}", modified_image(other_form).second.c_str()).size(), 3u);
  EXPECT_EQ(changed_text([&](LPWSTR* t) {
              return e.dll_function_modifyprofile(L"{T}", data.c_str(), nullptr, 0, t);
            }).first,
            E_INVALIDARG);

  // A new password for one item.
  const auto changed = changed_text([&](LPWSTR* t) {
    return e.dll_function_kvichangepassword(L"{T}", data.c_str(), 3, L"pw", L"new one", t);
  });
  ASSERT_EQ(changed.first, S_OK);
  EXPECT_EQ(fill().get_profiles(L"{T}", changed.second.c_str())[1].items[1].value,
            std::wstring_view(L"new one"));
  for (const auto& [index, db] : {std::pair{LONG{3}, L"pin"}, std::pair{LONG{9}, L"pw"}})
    EXPECT_EQ(changed_text([&](LPWSTR* t) {
                return e.dll_function_kvichangepassword(L"{T}", data.c_str(), index, db, L"x", t);
              }).first,
              HRESULT_FROM_WIN32(ERROR_NOT_FOUND));

  // Filling a window: its edit fields in order get the values; a reference is
  // left for the real fill-in to resolve.
  HWND window = ::CreateWindowExW(0, L"STATIC", L"form", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                  nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  HWND first = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 100, 20, window,
                                 reinterpret_cast<HMENU>(1), nullptr, nullptr);
  HWND second = ::CreateWindowExW(0, L"EDIT", L"untouched", WS_CHILD, 0, 30, 100, 20, window,
                                  reinterpret_cast<HMENU>(2), nullptr, nullptr);
  EXPECT_EQ(e.dll_function_fillinwindow(window, L"{T}", data.c_str(), 0), S_OK);
  wchar_t text[64];
  ::GetWindowTextW(first, text, 64);
  EXPECT_STREQ(text, L"ann");
  ::GetWindowTextW(second, text, 64);
  EXPECT_STREQ(text, L"untouched");
  EXPECT_EQ(e.dll_function_fillinwindow(window, L"{T}", data.c_str(), 3), S_OK);
  ::GetWindowTextW(second, text, 64);
  EXPECT_STREQ(text, L"old");
  EXPECT_EQ(e.dll_function_fillinwindow(window, L"{T}", data.c_str(), 5),
            HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  ::DestroyWindow(window);
  EXPECT_EQ(e.dll_function_fillinwindow(window, L"{T}", data.c_str(), 0),
            HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(FillinStandIn, EveryEntryPointCanBeMadeToFail) {
  filltest::standin_values faults(L"CvFillin");
  const HRESULT failure = static_cast<HRESULT>(0x8007139F);
  const fillin_entry_points_t& e = entry();
  BYTE* bytes = nullptr;
  DWORD size = 0;
  LPWSTR text = nullptr;
  const struct {
    const wchar_t* name;
    std::function<HRESULT()> call;
  } cases[] = {
      {L"dll_function_get_profiles",
       [&] { return e.dll_function_get_profiles(L"{T}", L"", &bytes, &size); }},
      {L"dll_function_update_profiles",
       [&] { return e.dll_function_update_profiles(L"{T}", L"", nullptr, 0, &text); }},
      {L"dll_function_brrrfromps", [&] { return e.dll_function_brrrfromps(nullptr); }},
      {L"dll_function_fillinwindow",
       [&] { return e.dll_function_fillinwindow(nullptr, L"{T}", L"", 0); }},
      {L"dll_function_createprofile",
       [&] { return e.dll_function_createprofile(L"{T}", L"", L"n", &text); }},
      {L"dll_function_modifyprofile",
       [&] { return e.dll_function_modifyprofile(L"{T}", L"", nullptr, 0, &text); }},
      {L"dll_function_kvichangepassword",
       [&] { return e.dll_function_kvichangepassword(L"{T}", L"", 0, L"pw", L"x", &text); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(templates::wide_to_utf8(c.name));
    faults.fail(c.name, failure);
    EXPECT_EQ(c.call(), failure);
    faults.fail(c.name, S_OK);
  }
}

}  // namespace
}  // namespace fillin
