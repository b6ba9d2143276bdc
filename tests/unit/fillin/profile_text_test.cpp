// The fill-in stand-in's profile text: reading, writing, replacing one
// template's profiles among many, and texts that are not quite right.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "suite/CvFillin/profile_text.h"

namespace cvfillin {
namespace {

using serialization::cvprofile_t;
using serialization::cvprofileitem_t;
using serialization::cvprofiles_t;

std::wstring str(const secret_text& text) {
  return std::wstring(text.data(), text.size());
}

cvprofileitem_t item(std::wstring display, std::string db, std::wstring value) {
  cvprofileitem_t i;
  i.displayname = std::move(display);
  i.dbname = std::move(db);
  i.value = value;
  return i;
}

cvprofile_t record(int index, std::wstring name, std::vector<cvprofileitem_t> items = {}) {
  cvprofile_t r;
  r.operation = 1;
  r.profileindex = index;
  r.profilename = name;
  r.qlinkname = std::move(name);
  r.submitprofile = 1;
  r.updatedate = "2024-05-01 10:30";
  r.items = std::move(items);
  return r;
}

std::wstring text_of(const std::vector<std::pair<std::wstring, cvprofiles_t>>& templates) {
  secret_text out;
  const std::wstring_view header = kProfileDataHeader;
  out.insert(out.end(), header.begin(), header.end());
  out.push_back(L'\n');
  for (const auto& [id, list] : templates)
    write_template(out, id, list);
  return str(out);
}

TEST(ProfileText, RecordsComeBackAsWritten) {
  cvprofileitem_t odd = item(L"Note = text", "note", L"back\\slash \\n\nline\rreturn = end\\");
  odd.value_op = 2;
  odd.displayname_op = -7;
  odd.memid = 2147483647;
  cvprofile_t other = record(-3, L"J\u00fcrgen \u00e9t\u00e9", {odd});
  other.operation = 0;
  other.formindex = 4;
  other.updatedate = "\xc3\xa9t\xc3\xa9";  // 8-bit fields are UTF-8
  other.items.push_back(item(L"", "caf\xc3\xa9", L""));
  const cvprofiles_t list = {
      record(0, L"Work mail",
             {item(L"User name", "USER", L"alice@example.com"),
              item(L"Password", "PASS", L"550-08-60 {ID}/0/0/1")}),
      other,
      record(2, L""),
  };
  profile_data_t data(text_of({{L"{ID}", list}}));
  ASSERT_TRUE(data.is_profile_data());
  EXPECT_EQ(data.template_count(), 1u);
  EXPECT_EQ(data.profiles(L"{ID}"), list);
}

// Only text under the header is profile data; another kind holds no profiles.
TEST(ProfileText, WhatIsAndIsNotProfileData) {
  for (const auto& [text, ours] : {std::pair{L"", true},
                                   {L"CVProfileData 1\r\n[template]\r\nid=x\r\n", true},
                                   {L"CVProfileData 2\n[template]\nid=x\n[record]\n", false},
                                   {L" CVProfileData 1\n[template]\nid=x\n[record]\n", false}}) {
    profile_data_t data(text);
    EXPECT_EQ(data.is_profile_data(), ours) << text;
    EXPECT_TRUE(data.profiles(L"x").empty()) << text;
  }
}

TEST(ProfileText, IdentifiersCompareWithoutCaseAndBlocksOfOneTemplateJoin) {
  const std::wstring text = text_of({{L"{AB-CD}", {record(0, L"first")}},
                                     {L"{other}", {record(0, L"not mine")}},
                                     {L"{ab-cd}", {record(1, L"second")}}});
  profile_data_t data(text);
  EXPECT_EQ(data.template_count(), 3u);
  const cvprofiles_t both = {record(0, L"first"), record(1, L"second")};
  EXPECT_EQ(data.profiles(L"{Ab-Cd}"), both);
  EXPECT_EQ(data.profiles(L"{AB-CD}"), both);
  EXPECT_TRUE(data.profiles(L"{AB-CE}").empty());

  // A rewrite puts the template's profiles in place of its first block and
  // drops the others.
  profile_data_t rewritten(str(data.with_profiles(L"{AB-CD}", {record(5, L"only")})));
  EXPECT_EQ(rewritten.template_count(), 2u);
  EXPECT_EQ(rewritten.profiles(L"{ab-cd}"), cvprofiles_t{record(5, L"only")});
  EXPECT_EQ(rewritten.profiles(L"{other}"), cvprofiles_t{record(0, L"not mine")});
}

TEST(ProfileText, OtherTemplatesStayAsTheyWereLineForLine) {
  // Comments, unknown names and CR LF line ends of other templates survive a
  // rewrite of one template untouched.
  const std::wstring kept =
      L"[template]\r\n"
      L"id={KEPT}\r\n"
      L"# a note\r\n"
      L"[record]\r\n"
      L"profilename=Kept\r\n"
      L"futurefield=42\r\n";
  const std::wstring text = L"CVProfileData 1\r\n# written by hand\r\n" + kept + str([] {
                              secret_text t;
                              write_template(t, L"{CHANGED}", {record(0, L"old")});
                              return t;
                            }());
  profile_data_t data(text);
  const std::wstring changed = str(data.with_profiles(L"{changed}", {record(0, L"new")}));
  EXPECT_EQ(changed.find(L"CVProfileData 1\r\n# written by hand\r\n" + kept), 0u) << changed;
  profile_data_t after(changed);
  EXPECT_EQ(after.profiles(L"{CHANGED}"), cvprofiles_t{record(0, L"new")});

  // A new template goes to the end; an empty list removes a template.
  const std::wstring added = str(data.with_profiles(L"{NEW}", {record(0, L"added")}));
  EXPECT_EQ(added.find(text), 0u);
  EXPECT_EQ(profile_data_t(added).template_count(), 3u);
  const std::wstring removed = str(data.with_profiles(L"{CHANGED}", {}));
  profile_data_t without(removed);
  EXPECT_EQ(without.template_count(), 1u);
  EXPECT_TRUE(without.profiles(L"{CHANGED}").empty());
  EXPECT_EQ(without.profiles(L"{KEPT}").size(), 1u);
}

}  // namespace
}  // namespace cvfillin
