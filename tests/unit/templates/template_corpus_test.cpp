// The reader on the template files of tests/data/templates: encoded values,
// other encodings, broken documents. (The attribute and pass rules the logon
// documents there follow are the model tests'; the fuzz target starts from such
// documents.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "templates/portable/template_reader.h"

namespace templates {
namespace {

std::string data_file(const std::string& name) {
  const char* root = std::getenv("CV_TEST_DATA");
  std::string path = root ? root : "tests/data";
#ifdef _WIN32
  if (!path.empty() && path[0] == '/')
    path = "Z:" + path;  // the host's root as Wine shows it
#endif
  std::ifstream in(path + "/templates/" + name, std::ios::binary);
  if (!in)
    throw std::runtime_error("missing test file " + name);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

manifest_t read_file(const std::string& name) {
  const std::string bytes = data_file(name);
  manifest_t m;
  read_manifest(bytes.data(), bytes.size(), m);
  return m;
}

TEST(TemplateCorpus, EncodedValues) {
  const form_t form = read_file("encoded_values.cvm").forms.at(0);
  EXPECT_EQ(form.detection.caption, "Welcome: dot;at;*");  // "dot" and "at" only when extended
  EXPECT_EQ(form.detection.web_murl, "https://intranet.example/sso?next=%2Fhome");
  EXPECT_EQ(form.detection.commandline, "a\r\nb");
  EXPECT_EQ(form.fields[1].value, "%41%5a%33\x1f%7f");
}

TEST(TemplateCorpus, OtherDeclaredEncodingsArriveAsUtf8) {
  const manifest_t latin1 = read_file("latin1_declared.cvm");
  EXPECT_EQ(latin1.descriptor.source, "Gr\xC3\xBCn");
  EXPECT_EQ(latin1.forms.at(0).detection.caption,
            "Anmeldung - B\xC3\xA4"
            "ckerei M\xC3\xBCller");
  EXPECT_EQ(latin1.processes
                .at(L"b\x00E4"
                    L"ckerei.exe")
                .flags,
            flag_edit);
  const manifest_t utf16 = read_file("utf16_bom.cvm");
  EXPECT_EQ(utf16.descriptor.storage_id, "ST-U16");
  EXPECT_EQ(utf16.forms.at(0).detection.caption,
            "\xC3\x9C"
            "bersicht \xE2\x80\x93 Anmeldung");
}

TEST(TemplateCorpus, BrokenTruncatedAndForeignDocuments) {
  const struct {
    const char* file;
    const char* error;  // null: loads
    std::size_t forms;
    std::size_t fields;  // of the last form
  } cases[] = {
      {"broken_mismatch.cvm", "mismatched tag at line 8 [8].\n", 0, 0},
      {"windows1252_declared.cvm", "unknown encoding at line 1 [30].\n", 0, 0},
      {"truncated_open.cvm", nullptr, 2, 1},
      {"truncated_in_tag.cvm", nullptr, 1, 1},
      {"not_a_manifest.cvm", nullptr, 0, 0},
      {"unknown_elements.cvm", nullptr, 1, 1},
      {"empty_file.cvm", nullptr, 0, 0},
  };
  for (const auto& c : cases) {
    const std::string bytes = data_file(c.file);
    manifest_t m;
    try {
      read_manifest(bytes.data(), bytes.size(), m);
      EXPECT_EQ(c.error, nullptr) << c.file;
      EXPECT_FALSE(m.empty);
      ASSERT_EQ(m.forms.size(), c.forms) << c.file;
      if (c.forms) {
        EXPECT_EQ(m.forms.back().fields.size(), c.fields) << c.file;
      }
    } catch (const std::runtime_error& e) {
      ASSERT_NE(c.error, nullptr) << c.file << ": " << e.what();
      EXPECT_STREQ(e.what(), c.error) << c.file;
    }
  }
  const manifest_t cut = read_file("truncated_open.cvm");
  EXPECT_EQ(cut.descriptor.storage_id, "ST-CUT");
  EXPECT_EQ(cut.forms[1].fields[0].rfieldpos, 1);  // passes ran on what was read
}

}  // namespace
}  // namespace templates
