// Path texts and folder list rules of the template storage folders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "templates/portable/folders_list.h"
#include "templates/portable/portable_path.h"

namespace templates {
namespace {

struct text_case_t {
  const wchar_t* in;
  const wchar_t* out;
};

TEST(FolderPaths, SeparatorsAndTrailingSeparator) {
  const text_case_t unify[] = {
      {L"", L""},
      {L"plain", L"plain"},
      {L"C:\\a/b\\c", L"C:\\a\\b\\c"},
      {L"C:/a\\b/c\\", L"C:/a/b/c/"},
      {L"\\\\srv/share", L"\\\\srv\\share"},
  };
  for (const auto& c : unify)
    EXPECT_EQ(unify_separators(c.in), c.out) << c.in;

  const text_case_t trailing[] = {
      {L"", L""}, {L"C:\\a", L"C:\\a\\"}, {L"C:\\a\\", L"C:\\a\\"}, {L"C:/a/", L"C:/a/"}};
  for (const auto& c : trailing)
    EXPECT_EQ(with_trailing_separator(c.in), c.out) << c.in;

  // A folder never ends up with mixed separators, whichever kind it used.
  const text_case_t folder[] = {
      {L"", L""},
      {L"C:\\Users\\ann", L"C:\\Users\\ann\\"},
      {L"C:/Users/ann", L"C:/Users/ann/"},
      {L"C:\\Users/ann/", L"C:\\Users\\ann\\"},
      {L"rel", L"rel\\"},
  };
  for (const auto& c : folder)
    EXPECT_EQ(normalise_folder(c.in), c.out) << c.in;
}

TEST(FolderPaths, LowerCase) {
  const text_case_t cases[] = {
      {L"C:\\ABC xyz\\", L"c:\\abc xyz\\"},
      {L"J\u00d6RG \u00c9T\u00c9 \u00d7\u00df", L"j\u00f6rg \u00e9t\u00e9 \u00d7\u00df"},
      {L"\u0100\u0101\u0139\u013a\u0178\u0130", L"\u0101\u0101\u013a\u013a\u00ffi"},
      {L"\u0391\u03a3\u03a9 \u0386", L"\u03b1\u03c3\u03c9 \u03ac"},
      {L"\u0416\u0401\u042f", L"\u0436\u0451\u044f"},
      {L"\uff21\uff3a\u4e2d", L"\uff41\uff5a\u4e2d"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lower_text(c.in), c.out);
}

const well_known_folders_t kFolders = {
    L"C:\\Users\\Ann\\AppData\\Roaming\\Corvantis\\KVX\\Templates\\",
    L"C:\\Users\\Ann\\AppData\\Roaming\\Corvantis\\KVX\\",
    L"C:\\Users\\Ann\\AppData\\Local\\Corvantis\\KVX\\",
    L"C:\\Program Files\\corvantis\\bin\\templates\\",
};

// The folder tests check the templates folder (before the product folder that
// holds it) and the UTF-8 form with the process's own folders.
TEST(FolderPaths, PortableForm) {
  const text_case_t cases[] = {
      {L"c:\\users\\ann\\appdata\\roaming\\corvantis\\kvx\\Logons\\Mail.cvm",
       L"kvx::logons\\mail.cvm"},
      {L"C:\\Users\\Ann\\AppData\\Local\\Corvantis\\KVX\\Cache\\a.cvm", L"usr::cache\\a.cvm"},
      {L"C:\\Program Files\\corvantis\\bin\\templates\\demo.cvm", L"dbg::demo.cvm"},
      // Separators are unified to the first one before the folders are looked for.
      {L"C:\\Users\\Ann\\AppData\\Local/Corvantis/KVX/x.cvm", L"usr::x.cvm"},
      {L"C:/Users/Ann/AppData/Local/Corvantis/KVX/x.cvm",
       L"c:/users/ann/appdata/local/corvantis/kvx/x.cvm"},
      // A folder is found anywhere in the path, not only at its start.
      {L"\\\\?\\C:\\Program Files\\corvantis\\bin\\templates\\d.cvm", L"\\\\?\\dbg::d.cvm"},
      {L"D:\\Other\\Site.cvm", L"d:\\other\\site.cvm"},
      {L"", L""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(portable_form(c.in, kFolders), c.out) << c.in;

  // A folder that could not be found never matches (an empty text is in every path).
  well_known_folders_t no_appdata = kFolders;
  no_appdata.roaming_templates.clear();
  no_appdata.roaming_product.clear();
  EXPECT_EQ(portable_form(L"C:\\Program Files\\corvantis\\bin\\templates\\d.cvm", no_appdata),
            L"dbg::d.cvm");
  EXPECT_EQ(portable_form(L"X:\\a.cvm", well_known_folders_t{}), L"x:\\a.cvm");
}

// Duplicates and personal mode with a bin folder are the folder tests'.
TEST(FolderList, ForeignFolderPaths) {
  struct case_t {
    bool personal;
    const wchar_t* alien_dirs;
    const wchar_t* bin_dir;
    std::vector<std::wstring> expected;
  } cases[] = {
      {false,
       L"C:\\a|D:/b/c| \\\\srv\\share ||",
       L"",
       {L"C:\\a\\", L"D:/b/c/", L"\\\\srv\\share\\"}},
      {true, L"C:\\a|D:\\b", L"", {}},
      {false, L"E:\\x", L"C:/bin", {L"E:\\x\\", L"C:/bin/templates/"}},
      {false, L"", L"", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(foreign_folder_paths(c.personal, c.alien_dirs, c.bin_dir), c.expected)
        << c.alien_dirs;
}

TEST(FolderList, PathKinds) {
  const struct {
    const wchar_t* path;
    path_kind_t kind;
  } cases[] = {
      {L"\\\\srv\\share\\", path_kind_t::network_share},
      {L"C:\\a\\", path_kind_t::drive},
      {L"1:\\", path_kind_t::drive},
      {L"//srv/share/", path_kind_t::strange},
      {L"\\a\\", path_kind_t::strange},
      {L"relative\\", path_kind_t::strange},
      {L"C", path_kind_t::strange},
      {L"", path_kind_t::strange},
  };
  for (const auto& c : cases)
    EXPECT_EQ(classify_folder_path(c.path), c.kind) << c.path;
}

TEST(FolderList, CreationSteps) {
  const struct {
    const wchar_t* path;
    std::vector<std::wstring> steps;
  } cases[] = {
      {L"C:\\a\\b\\c\\", {L"C:\\a", L"C:\\a\\b", L"C:\\a\\b\\c"}},
      {L"C:/a/b", {L"C:/a", L"C:/a/b"}},
      {L"C:\\a\\\\b\\\\", {L"C:\\a", L"C:\\a\\\\b"}},
      {L"\\\\srv\\share\\x\\y\\", {L"\\\\srv\\share\\x", L"\\\\srv\\share\\x\\y"}},
      {L"\\\\srv\\share\\", {}},
      {L"C:\\", {}},
      {L"a\\b", {L"a", L"a\\b"}},
      {L"", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(folder_creation_steps(c.path), c.steps) << c.path;
}

TEST(FolderList, SetsFindDuplicatesWhateverTheCaseAndSeparators) {
  folder_set_t folders;
  EXPECT_TRUE(folders.insert({L"C:\\Data\\T\\", true, true, true}).second);
  EXPECT_FALSE(folders.insert({L"c:/data/t/", false, true, true}).second);
  EXPECT_TRUE(folders.insert({L"C:\\Data\\", false, true, true}).second);
  EXPECT_TRUE(folders.insert({L"B:\\", true, false, true}).second);
  std::vector<std::wstring> order;
  for (const auto& folder : folders)
    order.push_back(folder.path);
  EXPECT_EQ(order, (std::vector<std::wstring>{L"B:\\", L"C:\\Data\\", L"C:\\Data\\T\\"}));
  EXPECT_TRUE(folders.begin()->alien);  // the first insertion stays

  file_entry_set_t files;
  EXPECT_TRUE(files.insert({L"C:\\t\\", L"b.cvm", false}).second);
  EXPECT_TRUE(files.insert({L"C:\\t\\", L"A.cvm", false}).second);
  EXPECT_FALSE(files.insert({L"c:\\T\\", L"a.CVM", true}).second);
  EXPECT_TRUE(files.insert({L"C:\\s\\", L"z.cvm", true}).second);
  std::vector<std::wstring> loads;
  for (const auto& file : files)
    loads.push_back(file.load_path());
  EXPECT_EQ(loads,
            (std::vector<std::wstring>{L"alien|C:\\s\\z.cvm", L"C:\\t\\A.cvm", L"C:\\t\\b.cvm"}));
}

}  // namespace
}  // namespace templates
