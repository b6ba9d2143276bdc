// The loaders of the fill-in and training components against real libraries:
// none at all, a file that is no library, libraries that lack an entry point,
// libraries that answer oddly, the stand-ins failing on purpose, and the
// process's own loaders finding the libraries in the component folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/fillin_components.h"
#include "support/hresult.h"
#include "support/registry.h"
#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_folders.h"
#include "templates/template_loader.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "tests/unit/fillin/fillin_test_support.h"

namespace fillin {
namespace {

using testsupport::program_file;

bool traced(const std::string& line) {
  for (const auto& l : testsupport::new_trace_lines())
    if (l == line)
      return true;
  return false;
}

template <typename Loader>
void expect_fileload_error(const std::wstring& path, DWORD error) {
  SCOPED_TRACE(templates::wide_to_utf8(path));
  try {
    Loader loader(path);
    ADD_FAILURE() << "loaded";
  } catch (const errors::fileload_lasterror& e) {
    EXPECT_EQ(e.error(), error);
    EXPECT_NE(std::string(e.what()).find("File: " + templates::wide_to_utf8(path)),
              std::string::npos)
        << e.what();
  }
}

TEST(FillinLoader, ALibraryThatDoesNotLoadRaisesFileloadWithThePath) {
  const std::wstring not_an_image = program_file(L"fillin_not_a_library.dll");
  testsupport::write_file(not_an_image, "not a library");
  expect_fileload_error<CFillinComponent>(program_file(L"no_such_fillin.dll"), ERROR_MOD_NOT_FOUND);
  expect_fileload_error<CFillinComponent>(not_an_image, ERROR_BAD_EXE_FORMAT);
  expect_fileload_error<CTrainingComponent>(program_file(L"no_such_training.dll"),
                                            ERROR_MOD_NOT_FOUND);
  expect_fileload_error<CTrainingComponent>(not_an_image, ERROR_BAD_EXE_FORMAT);
  ::DeleteFileW(not_an_image.c_str());
}

TEST(FillinLoader, AMissingEntryPointIsTracedAndEveryCallRefused) {
  testsupport::new_trace_lines();
  const CFillinComponent fill(program_file(L"CvFillin_partial.dll"));
  EXPECT_TRUE(
      traced("U CFillinComponent::Load Unresolved function dll_function_kvichangepassword"));
  const CTrainingComponent train(program_file(L"CvUTrain_partial.dll"));
  EXPECT_TRUE(traced("U CTrainingComponent::Load Unresolved function dll_function_createmanifest"));
  EXPECT_FALSE(fill.resolved());
  EXPECT_FALSE(train.resolved());
  EXPECT_NE(fill.module(), nullptr);

  const std::string fill_message =
      "Unresolved functions in '" + templates::wide_to_utf8(fill.path()) + "'";
  const std::string train_message =
      "Unresolved functions in '" + templates::wide_to_utf8(train.path()) + "'";
  const struct {
    const char* name;
    std::function<void()> call;
    const std::string& message;
  } calls[] = {
      {"get_profiles", [&] { fill.get_profiles(L"{T}", L""); }, fill_message},
      {"update_profiles", [&] { fill.update_profiles(L"{T}", L"", {}); }, fill_message},
      {"brrrfromps", [&] { fill.brrrfromps(nullptr); }, fill_message},
      {"fill-in entry_points", [&] { fill.entry_points(); }, fill_message},
      {"modify_profile",
       [&] { train.modify_profile(nullptr, training_mode::add, L"x.cvm", L"{T}", 0, L"", {}); },
       train_message},
      {"training entry_points", [&] { train.entry_points(); }, train_message},
  };
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : calls) {
      SCOPED_TRACE(c.name);
      try {
        c.call();
        ADD_FAILURE() << "called";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), c.message);
      }
    }
  }
}

TEST(FillinLoader, NegativeResultsAreRaisedWithTheirCode) {
  const CFillinComponent fill(program_file(L"CvFillin.dll"));
  const CTrainingComponent train(program_file(L"CvUTrain.dll"));
  testsupport::standin_faults_t fill_faults(L"CvFillin");
  testsupport::standin_faults_t train_faults(L"CvUTrain");
  // The stand-ins have every entry point.
  ASSERT_TRUE(fill.resolved());
  ASSERT_TRUE(train.resolved());
  const HRESULT failure = HRESULT_FROM_WIN32(ERROR_ACCESS_DISABLED_BY_POLICY);
  const struct {
    testsupport::standin_faults_t* faults;
    const wchar_t* entry_point;
    std::function<void()> call;
  } cases[] = {
      {&fill_faults, L"dll_function_get_profiles", [&] { fill.get_profiles(L"{T}", L""); }},
      {&fill_faults, L"dll_function_update_profiles",
       [&] { fill.update_profiles(L"{T}", L"", {}); }},
      {&fill_faults, L"dll_function_brrrfromps", [&] { fill.brrrfromps(nullptr); }},
      {&train_faults, L"dll_function_modifyprofile",
       [&] {
         train.modify_profile(nullptr, training_mode::edit, L"x.cvm", L"{T}", 0, nullptr, {});
       }},
  };
  testsupport::new_trace_lines();
  for (const auto& c : cases) {
    const std::string traced_as = templates::wide_to_utf8(c.entry_point);
    SCOPED_TRACE(traced_as);
    c.faults->fail(c.entry_point, failure);
    try {
      c.call();
      ADD_FAILURE() << "no failure raised";
    } catch (const support::hresult_error& e) {
      EXPECT_EQ(e.code(), failure);
    }
    const auto lines = testsupport::new_trace_lines();
    bool found = false;
    for (const auto& line : lines)
      found = found || (line.rfind("E ", 0) == 0 &&
                        line.find(std::to_string(failure) + " " + traced_as) != std::string::npos);
    EXPECT_TRUE(found) << "no error line for the call";
    c.faults->fail(c.entry_point, S_OK);
  }
}

TEST(FillinLoader, BrrrfrompsTellsYesFromCancelled) {
  const CFillinComponent fill(program_file(L"CvFillin.dll"));
  EXPECT_TRUE(fill.brrrfromps(nullptr));  // the protected storage says yes
  testsupport::standin_faults_t faults(L"CvFillin");
  faults.fail(L"dll_function_brrrfromps", S_FALSE);
  EXPECT_FALSE(fill.brrrfromps(nullptr));
}

TEST(FillinLoader, OddAnswersAreRefused) {
  const CFillinComponent fill(program_file(L"CvFillin_fake.dll"));
  const CTrainingComponent train(program_file(L"CvUTrain_fake.dll"));
  ASSERT_TRUE(fill.resolved());
  ASSERT_TRUE(train.resolved());
  const HRESULT not_an_image = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  const std::function<void()> get = [&] { EXPECT_TRUE(fill.get_profiles(L"{T}", L"").empty()); };
  const std::function<void()> update = [&] { fill.update_profiles(L"{T}", L"", {}); };
  const std::function<void()> modify = [&] {
    train.modify_profile(nullptr, training_mode::add, L"x", L"{T}", 0, L"", {});
  };
  const struct {
    const wchar_t* mode;
    const char* call;
    const std::function<void()>& run;
    HRESULT expected;  // S_OK: no failure
  } cases[] = {
      {L"garbage", "get_profiles", get, not_an_image},
      {L"oversize", "get_profiles", get, E_UNEXPECTED},
      {L"empty", "get_profiles", get, S_OK},
      {L"empty", "update_profiles", update, E_UNEXPECTED},
      {L"garbage", "modify_profile", modify, not_an_image},
      {L"oversize", "modify_profile", modify, E_UNEXPECTED},
      {L"empty", "modify_profile", modify, E_UNEXPECTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + templates::wide_to_utf8(c.mode));
    testsupport::scoped_environment_t mode(L"FILLIN_FAKE", c.mode);
    try {
      c.run();
      EXPECT_EQ(c.expected, S_OK) << "no failure raised";
    } catch (const support::hresult_error& e) {
      EXPECT_EQ(e.code(), c.expected);
    }
  }
}

// The process's loaders find the libraries in the component folder ("BinDir"
// of SOFTWARE\Corvantis\Applications\KVX); a library that is missing there is
// looked for again on the next use, and a loaded one is kept.
TEST(FillinLoader, TheProcessLoadsEachLibraryOnceFromTheComponentFolder) {
  const std::wstring folder = program_file(L"components\\");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const testsupport::scoped_component_folder_t component_folder(folder);

  const struct {
    const wchar_t* file;
    std::function<const void*()> loader;
  } cases[] = {
      {L"CvFillin.dll", [] { return static_cast<const void*>(&fillin_component()); }},
      {L"CvUTrain.dll", [] { return static_cast<const void*>(&training_component()); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(templates::wide_to_utf8(c.file));
    const std::wstring copy = folder + c.file;
    ::DeleteFileW(copy.c_str());
    EXPECT_THROW(c.loader(), errors::fileload_lasterror);
    ASSERT_TRUE(::CopyFileW(program_file(c.file).c_str(), copy.c_str(), FALSE));
    const void* first = c.loader();
    EXPECT_EQ(c.loader(), first);
    EXPECT_NE(::GetModuleHandleW(copy.c_str()), nullptr);
  }
  EXPECT_EQ(fillin_component().path(), templates::component_path(L"CvFillin.dll"));
  EXPECT_EQ(training_component().path(), templates::component_path(L"CvUTrain.dll"));
}

}  // namespace
}  // namespace fillin
