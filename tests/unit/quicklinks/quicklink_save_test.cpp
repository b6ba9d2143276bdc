// Saving the quick-link file under Wine: one replacing move, so a failed or
// killed save leaves a file that loads as the old or the new links.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "quicklinks/quicklink_store.h"
#include "support/unique_any.h"
#include "tests/support/win_test_helpers.h"

namespace QL {
namespace {

using testsupport::scratch_folder_t;

constexpr wchar_t kChildVariable[] = L"CV_QL_SAVE_LOOP";

set_t links(const std::string& tag, int count) {
  set_t set;
  for (int i = 0; i < count; ++i) {
    record_t r{type_url,
               "https://" + tag + std::to_string(i) + "/",
               "",
               "C:\\T\\" + tag + std::to_string(i) + ".cvm",
               "{" + tag + "}",
               i,
               i,
               std::string(200, 'n')};
    set.records.push_back(r);
  }
  set.modified = true;
  return set;
}

TEST(QuickLinkSave, ReplacesTheFileOrLeavesIt) {
  scratch_folder_t scratch;
  const std::wstring path = scratch.path() + L"QuickLinks.txt";
  set_t a = links("a", 2);
  ASSERT_TRUE(save(path, a));
  EXPECT_FALSE(a.modified);
  EXPECT_EQ(testsupport::read_file(path), write_text(a));
  set_t loaded;
  load_file(path, loaded);
  EXPECT_EQ(loaded.records, a.records);

  // The file held open without delete sharing: the move fails, the old file
  // stays, the set stays modified and no temporary file is left.
  set_t b = links("b", 3);
  {
    support::unique_file holder(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(save(path, b));
  }
  EXPECT_TRUE(b.modified);
  EXPECT_EQ(testsupport::read_file(path), write_text(a));
  EXPECT_EQ(scratch.files(), std::vector<std::wstring>{L"QuickLinks.txt"});
  EXPECT_FALSE(save(scratch.path() + L"none\\QuickLinks.txt", b));  // no such folder
}

// Run in a child process by the test below: saves two sets in turn until killed.
TEST(QuickLinkSave, ChildLoop) {
  wchar_t path[MAX_PATH] = L"";
  if (::GetEnvironmentVariableW(kChildVariable, path, MAX_PATH) == 0)
    GTEST_SKIP() << "child of KilledSaveLoadsOldOrNew only";
  set_t sets[2] = {links("a", 40), links("b", 60)};
  for (unsigned n = 0;; ++n)
    save(path, sets[n % 2]);
}

TEST(QuickLinkSave, KilledSaveLoadsOldOrNew) {
  scratch_folder_t scratch;
  const std::wstring path = scratch.path() + L"QuickLinks.txt";
  set_t a = links("a", 40);
  const set_t b = links("b", 60);
  ASSERT_TRUE(save(path, a));
  testsupport::scoped_environment_t child(kChildVariable, path.c_str());
  std::srand(::GetTickCount());
  for (int round = 0; round < 6; ++round) {
    std::wstring command = L"\"" + testsupport::program_file(L"quicklinks_save_tests.exe") +
                           L"\" --gtest_filter=QuickLinkSave.ChildLoop";
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process));
    ::Sleep(300 + std::rand() % 400);
    ::TerminateProcess(process.hProcess, 9);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    set_t loaded;
    load_file(path, loaded);
    EXPECT_TRUE(loaded.records == a.records || loaded.records == b.records) << round;
  }
}

}  // namespace
}  // namespace QL
