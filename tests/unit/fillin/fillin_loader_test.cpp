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
#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_folders.h"
#include "templates/template_loader.h"
#include "tests/support/traced_test_main.h"
#include "tests/unit/fillin/fillin_test_support.h"

namespace fillin {
namespace {

using filltest::beside_program;
using serialization::cvprofile_t;
using serialization::cvprofiles_t;

bool traced(const std::string& line) {
  for (const auto& l : testsupport::new_trace_lines())
    if (l == line)
      return true;
  return false;
}

// Every call of each loader, made once.
struct call_t {
  const char* name;
  std::function<void()> call;
};

std::vector<call_t> fillin_calls(const CFillinComponent& c) {
  return {
      {"get_profiles", [&c] { c.get_profiles(L"{T}", L""); }},
      {"update_profiles", [&c] { c.update_profiles(L"{T}", L"", {}); }},
      {"brrrfromps", [&c] { c.brrrfromps(nullptr); }},
      {"entry_points", [&c] { c.entry_points(); }},
  };
}

std::vector<call_t> training_calls(const CTrainingComponent& c) {
  return {
      {"modify_profile",
       [&c] { c.modify_profile(nullptr, training_mode::add, L"x.cvm", L"{T}", 0, L"", {}); }},
      {"entry_points", [&c] { c.entry_points(); }},
  };
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
  const std::wstring not_an_image = beside_program(L"fillin_not_a_library.dll");
  filltest::write_file(not_an_image, "not a library");
  expect_fileload_error<CFillinComponent>(beside_program(L"no_such_fillin.dll"),
                                          ERROR_MOD_NOT_FOUND);
  expect_fileload_error<CFillinComponent>(not_an_image, ERROR_BAD_EXE_FORMAT);
  expect_fileload_error<CTrainingComponent>(beside_program(L"no_such_training.dll"),
                                            ERROR_MOD_NOT_FOUND);
  expect_fileload_error<CTrainingComponent>(not_an_image, ERROR_BAD_EXE_FORMAT);
  ::DeleteFileW(not_an_image.c_str());
}

TEST(FillinLoader, AMissingEntryPointIsTracedAndEveryCallRefused) {
  testsupport::new_trace_lines();
  const CFillinComponent fill(beside_program(L"CvFillin_partial.dll"));
  EXPECT_TRUE(
      traced("U CFillinComponent::Load Unresolved function dll_function_kvichangepassword"));
  const CTrainingComponent train(beside_program(L"CvUTrain_partial.dll"));
  EXPECT_TRUE(traced("U CTrainingComponent::Load Unresolved function dll_function_createmanifest"));
  EXPECT_FALSE(fill.resolved());
  EXPECT_FALSE(train.resolved());
  EXPECT_NE(fill.module(), nullptr);

  const std::string fill_message =
      "Unresolved functions in '" + templates::wide_to_utf8(fill.path()) + "'";
  const std::string train_message =
      "Unresolved functions in '" + templates::wide_to_utf8(train.path()) + "'";
  std::vector<std::pair<call_t, std::string>> calls;
  for (auto& c : fillin_calls(fill))
    calls.emplace_back(c, fill_message);
  for (auto& c : training_calls(train))
    calls.emplace_back(c, train_message);
  for (int round = 0; round < 2; ++round) {
    for (const auto& [c, message] : calls) {
      SCOPED_TRACE(c.name);
      try {
        c.call();
        ADD_FAILURE() << "called";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), message);
      }
    }
  }
}

TEST(FillinLoader, TheStandInsResolveEveryEntryPoint) {
  const CFillinComponent fill(beside_program(L"CvFillin.dll"));
  const CTrainingComponent train(beside_program(L"CvUTrain.dll"));
  ASSERT_TRUE(fill.resolved());
  ASSERT_TRUE(train.resolved());
  const fillin_entry_points_t& f = fill.entry_points();
  for (const void* entry : {reinterpret_cast<const void*>(f.dll_function_get_profiles),
                            reinterpret_cast<const void*>(f.dll_function_update_profiles),
                            reinterpret_cast<const void*>(f.dll_function_brrrfromps),
                            reinterpret_cast<const void*>(f.dll_function_fillinwindow),
                            reinterpret_cast<const void*>(f.dll_function_createprofile),
                            reinterpret_cast<const void*>(f.dll_function_modifyprofile),
                            reinterpret_cast<const void*>(f.dll_function_kvichangepassword)})
    EXPECT_NE(entry, nullptr);
  const training_entry_points_t& t = train.entry_points();
  EXPECT_NE(t.dll_function_startmonitor, nullptr);
  EXPECT_NE(t.dll_function_createmanifest, nullptr);
  EXPECT_NE(t.dll_function_modifyprofile, nullptr);
}

TEST(FillinLoader, NegativeResultsAreRaisedWithTheirCode) {
  const CFillinComponent fill(beside_program(L"CvFillin.dll"));
  const CTrainingComponent train(beside_program(L"CvUTrain.dll"));
  filltest::standin_values fill_faults(L"CvFillin");
  filltest::standin_values train_faults(L"CvUTrain");
  const HRESULT failure = HRESULT_FROM_WIN32(ERROR_ACCESS_DISABLED_BY_POLICY);
  const struct {
    filltest::standin_values* faults;
    const wchar_t* entry_point;
    const char* traced_as;
    std::function<void()> call;
  } cases[] = {
      {&fill_faults, L"dll_function_get_profiles", "dll_function_get_profiles",
       [&] { fill.get_profiles(L"{T}", L""); }},
      {&fill_faults, L"dll_function_update_profiles", "dll_function_update_profiles",
       [&] { fill.update_profiles(L"{T}", L"", {}); }},
      {&fill_faults, L"dll_function_brrrfromps", "dll_function_brrrfromps",
       [&] { fill.brrrfromps(nullptr); }},
      {&train_faults, L"dll_function_modifyprofile", "dll_function_modifyprofile",
       [&] {
         train.modify_profile(nullptr, training_mode::edit, L"x.cvm", L"{T}", 0, nullptr, {});
       }},
  };
  testsupport::new_trace_lines();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.traced_as);
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
      found = found || (line.rfind("E ", 0) == 0 && line.find(std::to_string(failure) + " " +
                                                              c.traced_as) != std::string::npos);
    EXPECT_TRUE(found) << "no error line for the call";
    c.faults->fail(c.entry_point, S_OK);
  }
}

TEST(FillinLoader, BrrrfrompsTellsYesFromCancelled) {
  const CFillinComponent fill(beside_program(L"CvFillin.dll"));
  EXPECT_TRUE(fill.brrrfromps(nullptr));  // the protected storage says yes
  filltest::standin_values faults(L"CvFillin");
  faults.fail(L"dll_function_brrrfromps", S_FALSE);
  EXPECT_FALSE(fill.brrrfromps(nullptr));
}

TEST(FillinLoader, OddAnswersAreRefused) {
  const CFillinComponent fill(beside_program(L"CvFillin_fake.dll"));
  const CTrainingComponent train(beside_program(L"CvUTrain_fake.dll"));
  ASSERT_TRUE(fill.resolved());
  ASSERT_TRUE(train.resolved());
  const HRESULT not_an_image = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  const struct {
    const wchar_t* mode;
    const char* call;
    std::function<void()> run;
    HRESULT expected;  // S_OK: no failure
  } cases[] = {
      {L"garbage", "get_profiles", [&] { fill.get_profiles(L"{T}", L""); }, not_an_image},
      {L"oversize", "get_profiles", [&] { fill.get_profiles(L"{T}", L""); }, E_UNEXPECTED},
      {L"empty", "get_profiles", [&] { EXPECT_TRUE(fill.get_profiles(L"{T}", L"").empty()); },
       S_OK},
      {L"empty", "update_profiles", [&] { fill.update_profiles(L"{T}", L"", {}); }, E_UNEXPECTED},
      {L"garbage", "modify_profile",
       [&] { train.modify_profile(nullptr, training_mode::add, L"x", L"{T}", 0, L"", {}); },
       not_an_image},
      {L"oversize", "modify_profile",
       [&] { train.modify_profile(nullptr, training_mode::add, L"x", L"{T}", 0, L"", {}); },
       E_UNEXPECTED},
      {L"empty", "modify_profile",
       [&] { train.modify_profile(nullptr, training_mode::add, L"x", L"{T}", 0, L"", {}); },
       E_UNEXPECTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + templates::wide_to_utf8(c.mode));
    filltest::scoped_environment mode(L"FILLIN_FAKE", c.mode);
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
  const std::wstring folder = beside_program(L"components\\");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const wchar_t* key_path = L"SOFTWARE\\Corvantis\\Applications\\KVX";
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
            ERROR_SUCCESS);
  std::optional<std::wstring> old;
  wchar_t value[MAX_PATH];
  DWORD size = sizeof value;
  if (::RegQueryValueExW(key, L"BinDir", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
      ERROR_SUCCESS)
    old = value;
  ::RegSetValueExW(key, L"BinDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  const support::scope_exit cleanup([&] {
    if (old)
      ::RegSetValueExW(key, L"BinDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(old->c_str()),
                       static_cast<DWORD>((old->size() + 1) * sizeof(wchar_t)));
    else
      ::RegDeleteValueW(key, L"BinDir");
    ::RegCloseKey(key);
    if (disposition == REG_CREATED_NEW_KEY)
      ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key_path);
  });

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
    ASSERT_TRUE(::CopyFileW(beside_program(c.file).c_str(), copy.c_str(), FALSE));
    const void* first = c.loader();
    EXPECT_EQ(c.loader(), first);
    EXPECT_NE(::GetModuleHandleW(copy.c_str()), nullptr);
  }
  EXPECT_EQ(fillin_component().path(), templates::component_path(L"CvFillin.dll"));
  EXPECT_EQ(training_component().path(), templates::component_path(L"CvUTrain.dll"));
}

}  // namespace
}  // namespace fillin
