// The fill-in loader over the stand-ins: profiles kept in the protected
// storage's profile text, round trips through the real protected-storage
// stand-in (a store of the test's own), and the wiping of what the components
// hand back.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "store/fillin_components.h"
#include "store/protected_storage.h"
#include "support/hresult.h"
#include "tests/support/free_spy.h"
#include "tests/unit/fillin/fillin_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace fillin {
namespace {

using filltest::record;
using serialization::cvprofiles_t;
using testsupport::program_file;

const CFillinComponent& fill() {
  static const CFillinComponent library(program_file(L"CvFillin.dll"));
  return library;
}

TEST(FillinStandIn, ProfilesGoThroughTheProtectedStorageAndComeBack) {
  const pstest::scratch_store store;  // the stand-in keeps this test's profiles there
  const pstore::CProtectedStorage ps(program_file(L"CvoPS.dll"));

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

TEST(FillinStandIn, TextOfAnotherKindIsReadAsEmptyAndNeverOverwritten) {
  const wchar_t* foreign = L"OtherSuiteProfiles 3\n[template]\nid={T}\n[record]\nprofilename=x\n";
  EXPECT_TRUE(fill().get_profiles(L"{T}", foreign).empty());
  try {
    fill().update_profiles(L"{T}", foreign, {record(0, L"mine", {})});
    ADD_FAILURE() << "a foreign text was overwritten";
  } catch (const support::hresult_error& e) {
    EXPECT_EQ(e.code(), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  }
}

// The stand-in keeps what it read of the last text; a caller's buffer changed
// in place (same pointer, same length) is read again.
TEST(FillinStandIn, ATextChangedInPlaceIsReadAgain) {
  std::wstring data(fill().update_profiles(L"{T}", L"", {record(0, L"Ann", {})}).view());
  EXPECT_EQ(fill().get_profiles(L"{T}", data.c_str()), cvprofiles_t{record(0, L"Ann", {})});
  for (auto at = data.find(L"Ann"); at != std::wstring::npos; at = data.find(L"Ann"))
    data.replace(at, 3, L"Bob");
  EXPECT_EQ(fill().get_profiles(L"{T}", data.c_str()), cvprofiles_t{record(0, L"Bob", {})});
}

// What the components hand back may hold secrets: the loaders copy it and
// overwrite the task memory with zeros before freeing it. A malloc spy
// registered with COM looks at every task-memory block as it is freed.
testsupport::free_spy g_spy;

TEST(FillinWipe, OutputsAreCopiedThenZeroedThenFreed) {
  const CTrainingComponent train(program_file(L"CvUTrain.dll"));
  const std::wstring secret = L"s3cret-4711";
  const std::wstring data(
      fill()
          .update_profiles(L"{T}", L"", {record(0, L"Account", {{L"Password", "pw", secret}})})
          .view());
  testsupport::scratch_folder_t folder;
  const std::wstring template_file = folder.path() + L"wipe_test.cvm";
  testsupport::write_file(template_file,
                          "<manifest><descriptor id=\"{T}\"/><forms><form><fcontext name=\"0\"/>"
                          "<fields><field type=\"edit\" displayname=\"Password\" dbname=\"pw\" "
                          "password=\"1\"/></fields></form></forms></manifest>");
  testsupport::scoped_environment_t script(L"CVUTRAIN_STANDIN_SCRIPT",
                                           L"ok;profilename=Account;pw=" + secret);
  ASSERT_EQ(::CoRegisterMallocSpy(&g_spy), S_OK);

  const BYTE* secret_bytes = reinterpret_cast<const BYTE*>(secret.data());
  const struct {
    const char* call;
    std::function<bool()> run;  // true when the caller's copy holds the secret
  } cases[] = {
      {"get_profiles",
       [&] { return fill().get_profiles(L"{T}", data.c_str())[0].items[0].value == secret; }},
      {"update_profiles",
       [&] {
         return fill().update_profiles(L"{U}", data.c_str(), {}).view().find(secret) !=
                std::wstring_view::npos;
       }},
      {"modify_profile",
       [&] {
         const auto record = train.modify_profile(nullptr, training_mode::add, template_file,
                                                  L"{T}", 0, nullptr, {});
         return record && record->items.at(0).value == secret;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    g_spy.take_freed();
    EXPECT_TRUE(c.run());
    bool wiped = false;
    for (const testsupport::bytes_t& block : g_spy.take_freed()) {
      EXPECT_EQ(std::search(block.begin(), block.end(), secret_bytes,
                            secret_bytes + secret.size() * sizeof(wchar_t)),
                block.end())
          << "a block was freed with the secret in it";
      wiped = wiped || (block.size() >= secret.size() * sizeof(wchar_t) &&
                        std::all_of(block.begin(), block.end(), [](BYTE b) { return b == 0; }));
    }
    EXPECT_TRUE(wiped) << "no zeroed block was freed";
  }
  ::CoRevokeMallocSpy();
}

}  // namespace
}  // namespace fillin
