// The suite's binary folder, read below a registry root of the test's own. The
// order of the keys and the Program Files fallback are also the template folder
// tests'; here are the values themselves.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/suite_folder.h"
#include "tests/support/win_test_helpers.h"

namespace {

constexpr wchar_t kKvx[] = L"SOFTWARE\\Corvantis\\Applications\\KVX";
constexpr wchar_t kApplications[] = L"SOFTWARE\\Corvantis\\Applications";

TEST(SuiteFolder, ValuesAreTakenExpandedOrRefused) {
  const testsupport::scratch_key_t root(L"SuiteFolder");
  const testsupport::scoped_environment_t suite_root(L"CV_TEST_SUITE_ROOT", L"E:\\Suite");
  testsupport::set_reg_string(root.get(), kApplications, L"BinDir", L"D:\\Apps\\bin");
  const struct {
    DWORD type;
    std::wstring kvx;  // BinDir of the KVX key
    const wchar_t* folder;
  } cases[] = {
      {REG_SZ, L"", L"D:\\Apps\\bin\\"},  // empty: the next key decides
      {REG_SZ, L"\\\\server\\share\\kvx\\", L"\\\\server\\share\\kvx\\"},
      {REG_EXPAND_SZ, L"%CV_TEST_SUITE_ROOT%\\bin\\", L"E:\\Suite\\bin\\"},
      // A plain string is taken as it stands, and then it is no absolute folder.
      {REG_SZ, L"%CV_TEST_SUITE_ROOT%\\bin\\", L""},
      // Folders that depend on the current directory give nothing.
      {REG_SZ, L"bin", L""},
      {REG_SZ, L".\\bin\\", L""},
      {REG_SZ, L"C:bin", L""},
      {REG_SZ, L"\\bin", L""},
  };
  for (const auto& c : cases) {
    testsupport::set_reg_value(root.get(), kKvx, L"BinDir", c.type, c.kvx.c_str(),
                               static_cast<DWORD>((c.kvx.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(support::suite_bin_folder(root.get()), c.folder) << testing::PrintToString(c.kvx);
  }
}

}  // namespace
