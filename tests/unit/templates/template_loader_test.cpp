// loadM_properly on real files under Wine: paths and the alien prefix, and the
// one trace line of each kind of failure, read back from the own trace.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_loader.h"
#include "templates_test_support.h"

namespace templates {
namespace {

using templatestest::data_dir;
using templatestest::traced;
using testsupport::scratch_folder_t;

// A copy of a corpus file in the scratch folder.
std::wstring copy_of(const scratch_folder_t& scratch,
                     const wchar_t* file,
                     const std::wstring& name) {
  const std::wstring target = scratch.path() + name;
  EXPECT_TRUE(::CopyFileW((data_dir() + file).c_str(), target.c_str(), FALSE));
  return target;
}

TEST(TemplateLoader, PathsAndTheAlienPrefix) {
  traced();
  const std::wstring file = data_dir() + L"web_mail_single.cvm";
  manifest_t m;
  ASSERT_TRUE(loadM_properly(m, file));
  EXPECT_EQ(m.descriptor.id, "{6F1C2A40-3B7E-4D8A-9C11-2E5B7A0D4F01}");
  EXPECT_EQ(m.forms.size(), 1u);
  EXPECT_FALSE(m.empty);
  EXPECT_FALSE(m.alien);
  EXPECT_EQ(m.path, wide_to_utf8(file));
  EXPECT_EQ(m.path_key(), file);

  // The same file through a foreign folder; a new load replaces everything.
  m.forms.emplace_back();
  ASSERT_TRUE(loadM_properly(m, L"alien|" + file));
  EXPECT_TRUE(m.alien);
  EXPECT_EQ(m.path, wide_to_utf8(file));
  EXPECT_EQ(m.path_key(), L"alien|" + file);
  EXPECT_EQ(m.forms.size(), 1u);

  // Loading a truncated document succeeds with what it holds.
  ASSERT_TRUE(loadM_properly(m, data_dir() + L"truncated_open.cvm"));
  EXPECT_FALSE(m.alien);
  EXPECT_EQ(m.forms.size(), 2u);
  EXPECT_TRUE(traced().empty());
}

TEST(TemplateLoader, EachFailureTracesOneLine) {
  scratch_folder_t scratch;
  const std::wstring empty = copy_of(scratch, L"empty_file.cvm", L"empty.cvm");
  const std::wstring dir = data_dir();
  const std::string dir8 = wide_to_utf8(dir);
  const struct {
    std::wstring path;
    std::string line;
  } cases[] = {
      {dir + L"missing.cvm", "U loadM_properly File problem [notfound]: '" + dir8 + "missing.cvm'"},
      {L"alien|" + dir + L"missing.cvm",
       "U loadM_properly File problem [notfound]: '" + dir8 + "missing.cvm'"},
      {L"Alien|" + dir + L"web_mail_single.cvm",  // the prefix is case-sensitive
       "U loadM_properly File problem [notfound]: 'Alien|" + dir8 + "web_mail_single.cvm'"},
      {dir.substr(0, dir.size() - 1),  // a folder
       "U loadM_properly File problem [notfound]: '" + dir8.substr(0, dir8.size() - 1) + "'"},
      {empty, "U loadM_properly File problem [noaccess]: '" + wide_to_utf8(empty) + "'"},
      {dir + L"broken_mismatch.cvm",
       "U loadM_properly loadM_properly: mismatched tag at line 8 [8].\n"},
      {L"alien|" + dir + L"windows1252_declared.cvm",
       "U loadM_properly loadM_properly: unknown encoding at line 1 [30].\n"},
  };
  traced();
  for (const auto& c : cases) {
    manifest_t m;
    EXPECT_FALSE(loadM_properly(m, c.path));
    EXPECT_EQ(traced(), std::vector<std::string>{c.line});
  }
}

TEST(TemplateLoader, FileInUseCannotBeRead) {
  scratch_folder_t scratch;
  const std::wstring file = copy_of(scratch, L"web_mail_single.cvm", L"in use.cvm");
  manifest_t m;
  {
    const support::unique_file exclusive(::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                       0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive);
    traced();
    EXPECT_FALSE(loadM_properly(m, file));
    EXPECT_EQ(traced(), std::vector<std::string>{"U loadM_properly File problem [noaccess]: '" +
                                                 wide_to_utf8(file) + "'"});
  }
  EXPECT_TRUE(loadM_properly(m, file));  // and again once the file is free
}

TEST(TemplateLoader, FailedLoadsLeaveTheTemplateAsTheyLeftIt) {
  const std::wstring good = data_dir() + L"web_bank_pchange.cvm";
  manifest_t m;
  ASSERT_TRUE(loadM_properly(m, L"alien|" + good));
  const manifest_t loaded = m;
  // A missing file stops before the template is touched ...
  EXPECT_FALSE(loadM_properly(m, data_dir() + L"missing.cvm"));
  EXPECT_EQ(m, loaded);
  // ... a malformed document after the reset, with what was read before the error.
  EXPECT_FALSE(loadM_properly(m, data_dir() + L"broken_mismatch.cvm"));
  EXPECT_EQ(m.descriptor.id, "{BAD00001-0000-4000-8000-000000000001}");
  EXPECT_TRUE(m.empty);
  EXPECT_FALSE(m.alien);
  EXPECT_EQ(m.path, "");
  traced();
}

TEST(TemplateLoader, NonAsciiFileNames) {
  scratch_folder_t scratch;
  const std::wstring name =
      L"Gr\x00FC\x00DF"
      L"e \x20AC \x4E2D.cvm";
  const std::wstring file = copy_of(scratch, L"app_mailclient.cvm", name);
  manifest_t m;
  ASSERT_TRUE(loadM_properly(m, L"alien|" + file));
  EXPECT_EQ(m.path, wide_to_utf8(file));
  EXPECT_EQ(m.path_key(), L"alien|" + file);
  traced();
  EXPECT_FALSE(loadM_properly(m, scratch.path() + L"\x00FC"
                                                  L"ber.cvm"));
  EXPECT_EQ(traced(), std::vector<std::string>{"U loadM_properly File problem [notfound]: '" +
                                               wide_to_utf8(scratch.path()) +
                                               "\xC3\xBC"
                                               "ber.cvm'"});
}

TEST(FileloadLasterror, NamesTheFileAndTheSystemText) {
  ::SetLastError(ERROR_MOD_NOT_FOUND);
  const errors::fileload_lasterror error(L"CvNothing.dll");
  EXPECT_EQ(error.error(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  const std::string text = error.what();
  const std::string prefix = "File: CvNothing.dll Error: ";
  ASSERT_GT(text.size(), prefix.size());
  EXPECT_EQ(text.substr(0, prefix.size()), prefix);
  EXPECT_NE(text.back(), '\n');
  // A code without a system text shows the number.
  EXPECT_STREQ(errors::fileload_lasterror(L"x.dll", 0x2FFFFFFF).what(),
               "File: x.dll Error: [805306367]");
}

}  // namespace
}  // namespace templates
