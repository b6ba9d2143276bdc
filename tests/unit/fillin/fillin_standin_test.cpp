// The fill-in and training loaders over the stand-ins: what the components
// hand back is wiped before it is freed.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "store/fillin_components.h"
#include "tests/support/free_spy.h"
#include "tests/unit/fillin/fillin_test_support.h"

namespace fillin {
namespace {

using filltest::record;
using testsupport::program_file;

const CFillinComponent& fill() {
  static const CFillinComponent library(program_file(L"CvFillin.dll"));
  return library;
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
    EXPECT_EQ(g_spy.wipe_failure(secret.data(), secret.size() * sizeof(wchar_t)), "");
  }
  ::CoRevokeMallocSpy();
}

}  // namespace
}  // namespace fillin
