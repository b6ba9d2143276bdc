// What the components hand back may hold secrets: the loaders copy it and
// overwrite the task memory with zeros before freeing it. A malloc spy
// registered with COM looks at every task-memory block as it is freed.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "store/fillin_components.h"
#include "tests/unit/fillin/fillin_test_support.h"

namespace fillin {
namespace {

using filltest::beside_program;
using filltest::bytes_of;
using filltest::bytes_t;
using filltest::holds;

filltest::free_spy g_spy;

TEST(FillinWipe, OutputsAreCopiedThenZeroedThenFreed) {
  const CFillinComponent fill(beside_program(L"CvFillin.dll"));
  const CTrainingComponent train(beside_program(L"CvUTrain.dll"));
  const std::wstring secret = L"s3cret-4711";
  const std::wstring data(
      fill.update_profiles(L"{T}", L"",
                           {filltest::record(0, L"Account", {{L"Password", "pw", secret}})})
          .view());
  const std::wstring template_file = beside_program(L"wipe_test.cvm");
  filltest::write_file(template_file,
                       "<manifest><descriptor id=\"{T}\"/><forms><form><fcontext name=\"0\"/>"
                       "<fields><field type=\"edit\" displayname=\"Password\" dbname=\"pw\" "
                       "password=\"1\"/></fields></form></forms></manifest>");
  filltest::scoped_environment script(L"CVUTRAIN_STANDIN_SCRIPT",
                                      L"ok;profilename=Account;pw=" + secret);
  ASSERT_EQ(::CoRegisterMallocSpy(&g_spy), S_OK);

  const struct {
    const char* call;
    std::function<bool()> run;  // true when the caller's copy holds the secret
  } cases[] = {
      {"get_profiles",
       [&] { return fill.get_profiles(L"{T}", data.c_str())[0].items[0].value == secret; }},
      {"update_profiles",
       [&] {
         return fill.update_profiles(L"{U}", data.c_str(), {}).view().find(secret) !=
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
    for (const bytes_t& block : g_spy.take_freed()) {
      EXPECT_FALSE(holds(block, bytes_of(secret))) << "a block was freed with the secret in it";
      wiped = wiped || (block.size() >= secret.size() * sizeof(wchar_t) &&
                        std::all_of(block.begin(), block.end(), [](BYTE b) { return b == 0; }));
    }
    EXPECT_TRUE(wiped) << "no zeroed block was freed";
  }
  ::CoRevokeMallocSpy();
  ::DeleteFileW(template_file.c_str());
}

}  // namespace
}  // namespace fillin
