// The quick-link file format, the precedence filter, QL::add and QL::del, and the
// category lists, on texts (natively and under Wine).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quicklinks/portable/category_list.h"
#include "quicklinks/portable/quicklink_file.h"
#include "quicklinks/portable/quicklink_launch.h"

namespace QL {
namespace {

struct traced_env_t {
  std::vector<std::string> lines;
  environment_t env;
  traced_env_t() {
    env.file_exists = [](const std::string& p) { return p.find("missing") == std::string::npos; };
    env.expand = [](const std::string& t) {
      std::string out = t;
      const auto at = out.find("%W%");
      return at == std::string::npos ? out : out.replace(at, 3, "C:\\Windows");
    };
    env.portable = [](const std::string& p) {
      return p.starts_with("C:\\Own\\") ? "kvi::" + p.substr(7) : p;
    };
    env.trace = [this](const std::string& line) { lines.push_back(line); };
  }
};

TEST(QuickLinkFile, WritesTheExactLayout) {
  set_t set;
  set.records.push_back(
      {type_url, "https://a.example/?x=1", "", "C:\\T\\a.cvm", "{A}", 0, 0, "Mail"});
  set.records.push_back({type_none, "u", "", "C:\\T\\n.cvm", "", 0, 1, "none"});
  set.records.push_back({type_app, "", "C:\\P\\app.exe -q", "C:\\T\\b.cvm", "", 3, 2, "App"});
  set.kvxurls = "https://s.example/";
  EXPECT_EQ(write_text(set),
            "[ShortCutRecord]\r\nManifest=C:\\T\\a.cvm\r\nUrl=https://a.example/?x=1\r\n"
            "Name=Mail\r\nProfile=0\r\nManifestID={A}\r\n"
            "[ShortCutRecord]\r\nManifest=C:\\T\\b.cvm\r\nDlgpath=C:\\P\\app.exe -q\r\n"
            "Name=App\r\nProfile=3\r\nManifestID=\r\n"
            "KVXURLs=https://s.example/\r\nKVXDlgPaths=\r\n");
  EXPECT_EQ(write_text(set_t{}), "KVXURLs=\r\nKVXDlgPaths=\r\n");
}

TEST(QuickLinkFile, ReadsCaseFreeKeysAndSkipsBadLines) {
  traced_env_t t;
  set_t set;
  parse_text(
      "[SHORTCUTRECORD]\nURL=https://x/\r\nName\n=x\n\n"
      "[shortcutrecord]\nDlgpath=C:\\missing.exe\nManifest=C:\\T\\m.cvm\nProfile=-2junk\n"
      "[ShortCutRecord]\nUrl=u\nDlgpath=C:\\Program Files\\IEXPLORE.EXE http://y\nother=1\n"
      "[ShortCutRecord]\nDlgpath=C:\\missing.exe\n"
      "KVXURLs=a,b\nKVXDLGPATHS=c\nName=tail",
      set, t.env);
  ASSERT_EQ(set.records.size(), 4u);
  EXPECT_EQ(set.records[0], (record_t{type_url, "https://x/", "", "", "", 0, 0, ""}));
  EXPECT_EQ(set.records[1], (record_t{type_none, "", "", "C:\\T\\m.cvm", "", -2, 1, ""}));
  EXPECT_EQ(set.records[2].type, type_app);
  EXPECT_EQ(set.records[2].dlgpath, "C:\\Program Files\\IEXPLORE.EXE http://y");
  EXPECT_EQ(set.records[3], (record_t{type_none, "", "", "", "", 0, 3, "tail"}));
  EXPECT_EQ(set.kvxurls, "a,b");
  EXPECT_EQ(set.kvxdlgpaths, "c");
  EXPECT_EQ(t.lines, (std::vector<std::string>{"inv.line 'Name'", "inv.line '=x'"}));
  EXPECT_EQ(split_command("C:\\IE\\iexplore.exe -k a"),
            (std::pair<std::string, std::string>{"C:\\IE\\iexplore.exe", " -k a"}));
}

TEST(QuickLinkFile, Utf16FileAfterItsMark) {
  // FF FE, then "Url=\u00e9\U0001F600" and a lone surrogate.
  const std::string bytes("\xFF\xFEU\0r\0l\0=\0\xE9\0\x3D\xD8\x00\xDE\x00\xD8", 18);
  traced_env_t t;
  set_t set;
  parse_text(bytes, set, t.env);
  ASSERT_EQ(set.records.size(), 1u);
  EXPECT_EQ(set.records[0].url, "\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST(QuickLinkFile, OwnTemplatesYieldToShippedOnes) {
  traced_env_t t;
  set_t set;
  auto rec = [](int type, std::string target, std::string manifest) {
    record_t r;
    r.type = type;
    (type == type_url ? r.url : r.dlgpath) = std::move(target);
    r.manifest = std::move(manifest);
    return r;
  };
  set.records = {rec(type_url, "https://LISTED/?q", "C:\\Own\\a.cvm"),
                 rec(type_url, "https://dup/", "C:\\Own\\b.cvm"),
                 rec(type_url, "https://dup/?other", "C:\\Shipped\\b.cvm"),
                 rec(type_app, "%W%\\n.exe", "C:\\Own\\c.cvm"),
                 rec(type_app, "C:\\Windows\\n.exe", "C:\\Shipped\\c.cvm"),
                 rec(type_url, "https://kept/", "C:\\Own\\d.cvm"),
                 rec(type_app, "C:\\x.exe", "C:\\Own\\e.cvm")};
  set.kvxurls = "https://other/,https://listed/";
  set.kvxdlgpaths = ",";
  apply_precedence(set, t.env);
  std::vector<std::string> kept;
  for (const record_t& r : set.records)
    kept.push_back(r.manifest);
  EXPECT_EQ(kept, (std::vector<std::string>{"C:\\Shipped\\b.cvm", "C:\\Shipped\\c.cvm",
                                            "C:\\Own\\d.cvm", "C:\\Own\\e.cvm"}));
  set_t empty{{}, "a", "b", false};
  apply_precedence(empty, t.env);
  EXPECT_EQ(empty.kvxurls + empty.kvxdlgpaths, "");
}

TEST(QuickLinkFile, AddUpdatesByFileNameAndProfile) {
  traced_env_t t;
  set_t set;
  EXPECT_TRUE(add(set, "https://a/", "A", 0, "{1}", "C:\\Own\\site.cvm", t.env));
  EXPECT_TRUE(add(set, "C:\\P\\App.EXE", "B", 1, "{1}", "D:/other/site.cvm", t.env));
  EXPECT_EQ(t.lines,
            (std::vector<std::string>{"QL for: kvi::site.cvm", "  prof:  0", "  name: 'A'",
                                      "  url : 'https://a/'", "  QL created",
                                      "QL for: D:/other/site.cvm", "  prof:  1", "  name: 'B'",
                                      "  dlgpath : 'C:\\P\\App.EXE'", "  QL created"}));
  ASSERT_EQ(set.records.size(), 2u);
  EXPECT_EQ(set.records[1].type, type_app);
  // Profile -1 takes the first link of the file name whatever its profile.
  set.modified = false;
  EXPECT_TRUE(add(set, "https://new/", "N", -1, "{2}", "E:\\site.cvm", t.env));
  EXPECT_EQ(set.records[0],
            (record_t{type_url, "https://new/", "", "C:\\Own\\site.cvm", "{2}", -1, -1, "N"}));
  EXPECT_TRUE(set.modified);
  t.lines.clear();
  // Refused or without effect: a path without a file name, empty target or name,
  // and any value with a line break.
  EXPECT_FALSE(add(set, "https://x/", "X", 0, "", "C:\\T\\", t.env));
  EXPECT_FALSE(add(set, "", "X", 0, "", "C:\\T\\z.cvm", t.env));
  EXPECT_FALSE(add(set, "https://x/", "X\r\n[ShortCutRecord]", 0, "", "C:\\T\\z.cvm", t.env));
  EXPECT_FALSE(add(set, "https://x/", "X", 0, "id\n", "C:\\T\\z.cvm", t.env));
  EXPECT_EQ(set.records.size(), 2u);
  EXPECT_EQ(t.lines[4], "Cannot split manifest path");
  EXPECT_EQ(t.lines[9], "  QL created");
  EXPECT_EQ(t.lines[14], "  refused: a value holds a line break");

  t.lines.clear();
  EXPECT_EQ(del(set, "X:\\any\\site.cvm", t.env), 2u);
  EXPECT_EQ(del(set, "X:\\", t.env), 0u);
  EXPECT_EQ(t.lines, (std::vector<std::string>{"all for X:\\any\\site.cvm", "removed kvi::site.cvm",
                                               "removed D:/other/site.cvm", "all for X:\\",
                                               "Cannot split manifest path"}));
  EXPECT_TRUE(is_application("c:\\a.Exe") && is_application("IExplore.exe x") &&
              !is_application("http://a.exe.example/") && !is_application("C:\\a.exe\\b"));
}

TEST(QuickLinkLaunch, IdsSearchesAndAddresses) {
  traced_env_t t;
  set_t set;
  for (const char* name : {"A", "B", "A"})
    add(set, "https://x/", name, name[0] == 'B' ? 5 : -1, "",
        std::string("C:\\T\\") + name + ".cvm", t.env);
  set.records.push_back({type_url, "u", "", "C:\\T\\Site.CVM", "", 1, 0, "Mail"});
  number_for_launch(set);
  EXPECT_EQ(set.records[2].index, 4);
  t.lines.clear();
  EXPECT_EQ(find_by_title_and_name(set, "D:/site.cvm", "Mail", t.env), &set.records[2]);
  EXPECT_EQ(t.lines, std::vector<std::string>{"qlinkname = Mail, menutext = Mail"});
  EXPECT_EQ(find_by_title_and_name(set, "D:/site.cvm", "mail", t.env), nullptr);
  EXPECT_EQ(find_by_title_and_profile(set, "x:b.cvm", 5), &set.records[1]);
  EXPECT_EQ(find_by_title_and_profile(set, "x:b.cvm", 4), nullptr);
  EXPECT_EQ(scheme_for_browser(L"C:\\Mozilla\\FireFox.EXE"), L"cvql");
  EXPECT_EQ(scheme_for_browser(L""), L"res");
  EXPECT_EQ(loading_page_address(L"res", L"C:\\Program Files\\Corvantis\\CVOnlineIDs.dll", 2),
            L"res://c:\\program%20files\\corvantis\\cvonlineids.dll/qlinkload.htm#id=2");
}

}  // namespace
}  // namespace QL

namespace categories {
namespace {

TEST(CategoryList, MembersKeysAndCaseFreeNames) {
  EXPECT_EQ(logon_key(L"C:\\T\\Mail.Site.cvm"), L"Mail.Site");
  EXPECT_EQ(logon_key(L"a:b/c."), L"c.");
  EXPECT_EQ(with_member(L"a;b", L"c"), L"a;b;c");
  EXPECT_EQ(with_member(L"a;b", L"b"), L"a;b");
  EXPECT_EQ(with_member(L"", L"a"), L"a");
  category_list_t list;
  EXPECT_TRUE(list.add(L"Work"));
  EXPECT_FALSE(list.add(L"WORK"));
  EXPECT_TRUE(list.put(0, L"mail"));
  EXPECT_TRUE(list.put(0, L"mail"));
  EXPECT_FALSE(list.put(0, L"a;b"));
  EXPECT_EQ(list.members[0], L"mail");
  EXPECT_THROW(list.put(1, L"x"), std::out_of_range);
}

}  // namespace
}  // namespace categories
