// The suite's binary folder, read below a registry root of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/suite_folder.h"

namespace {

class SuiteFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = L"Software\\CVTests\\SuiteFolder" + std::to_wstring(::GetCurrentProcessId());
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &m_root, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    ::RegCloseKey(m_root);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
  }
  void set_bin_dir(const wchar_t* key, DWORD type, const std::wstring& value) {
    HKEY k = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(m_root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(k, L"BinDir", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(k);
  }

  std::wstring m_path;
  HKEY m_root = nullptr;
};

constexpr wchar_t kKvx[] = L"SOFTWARE\\Corvantis\\Applications\\KVX";
constexpr wchar_t kApplications[] = L"SOFTWARE\\Corvantis\\Applications";

std::wstring program_files_bin() {
  wchar_t folder[MAX_PATH] = L"";
  ::GetEnvironmentVariableW(L"ProgramFiles", folder, MAX_PATH);
  return std::wstring(folder) + L"\\corvantis\\bin\\";
}

TEST_F(SuiteFolder, KvxFirstThenApplicationsThenProgramFiles) {
  EXPECT_EQ(support::suite_bin_folder(m_root), program_files_bin());
  set_bin_dir(kApplications, REG_SZ, L"D:\\Apps\\bin");
  EXPECT_EQ(support::suite_bin_folder(m_root), L"D:\\Apps\\bin\\");
  set_bin_dir(kKvx, REG_SZ, L"");  // empty: the next key decides
  EXPECT_EQ(support::suite_bin_folder(m_root), L"D:\\Apps\\bin\\");
  set_bin_dir(kKvx, REG_SZ, L"\\\\server\\share\\kvx\\");
  EXPECT_EQ(support::suite_bin_folder(m_root), L"\\\\server\\share\\kvx\\");
}

TEST_F(SuiteFolder, ExpandableValuesAreExpanded) {
  ::SetEnvironmentVariableW(L"CV_TEST_SUITE_ROOT", L"E:\\Suite");
  set_bin_dir(kKvx, REG_EXPAND_SZ, L"%CV_TEST_SUITE_ROOT%\\bin\\");
  EXPECT_EQ(support::suite_bin_folder(m_root), L"E:\\Suite\\bin\\");
  // A plain string is taken as it stands, and then it is no absolute folder.
  set_bin_dir(kKvx, REG_SZ, L"%CV_TEST_SUITE_ROOT%\\bin\\");
  EXPECT_EQ(support::suite_bin_folder(m_root), L"");
}

TEST_F(SuiteFolder, FoldersThatDependOnTheCurrentDirectoryGiveNothing) {
  for (const wchar_t* relative : {L"bin", L".\\bin\\", L"C:bin", L"\\bin"}) {
    set_bin_dir(kKvx, REG_SZ, relative);
    EXPECT_EQ(support::suite_bin_folder(m_root), L"") << relative;
  }
}

}  // namespace
