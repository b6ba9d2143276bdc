// The script language of the console host's driver: steps, targets, keys and
// the line of each error.
#include <gtest/gtest.h>

#include <string>

#include "suite/cvhost/portable/drive_script.h"

namespace {

using drive::key_t;
using drive::parse_script;
using drive::step_t;
using drive::target_t;
using drive::verb_t;
using kind = target_t::kind_t;

TEST(DriveScript, StepsAndTheirArguments) {
  const auto steps = parse_script(
      "\xEF\xBB\xBF# a comment\r\n"
      "page \"Security \\\"Dash\\\" Board\"\r\n"
      "\n"
      "  select #1003 @2   # trailing comment\n"
      "drag @1 \"My bank\" #1003 Shopping\r"
      "keys focus Shift+Alt+F5 \"a b\" Delete\n"
      "box #6 \"new name\"\n"
      "wait-rows #1006 3\n"
      "wait-text focus Ready 250\n"
      "menu 40006\n"
      "cancel\n");
  ASSERT_EQ(steps.size(), 9u);
  EXPECT_EQ(steps[0].verb, verb_t::page);
  EXPECT_EQ(steps[0].line, 2);
  EXPECT_EQ(steps[0].targets[0].text, "Security \"Dash\" Board");
  EXPECT_EQ(steps[1].line, 4);
  EXPECT_EQ(steps[1].targets[0].kind, kind::id);
  EXPECT_EQ(steps[1].targets[0].number, 1003u);
  EXPECT_EQ(steps[1].targets[1].kind, kind::index);
  EXPECT_EQ(steps[1].targets[1].number, 2u);
  ASSERT_EQ(steps[2].targets.size(), 4u);
  EXPECT_EQ(steps[2].targets[1].text, "My bank");
  EXPECT_EQ(steps[2].targets[3].text, "Shopping");
  EXPECT_EQ(steps[3].line, 6);  // a lone "\r" ends a line too
  EXPECT_EQ(steps[3].targets[0].kind, kind::focus);
  ASSERT_EQ(steps[3].keys.size(), 3u);
  EXPECT_EQ(steps[3].keys[0].key, 0x74);
  EXPECT_EQ(steps[3].keys[0].modifiers, drive::kShift | drive::kAlt);
  EXPECT_TRUE(steps[3].keys[1].is_text);
  EXPECT_EQ(steps[3].keys[1].text, "a b");
  EXPECT_EQ(steps[3].keys[2].key, 0x2E);
  EXPECT_TRUE(steps[4].has_text);
  EXPECT_EQ(steps[4].text, "new name");
  EXPECT_EQ(steps[5].number, 3u);
  EXPECT_EQ(steps[5].timeout_ms, drive::kDefaultWaitMs);
  EXPECT_EQ(steps[6].timeout_ms, 250u);
  EXPECT_EQ(steps[7].number, 40006u);
  const auto answer = parse_script("answer-notify #1006 2 0\n");
  EXPECT_EQ(answer[0].targets[0].number, 1006u);
  EXPECT_EQ(answer[0].number, 2u);
  EXPECT_EQ(answer[0].answer, 0u);
}

TEST(DriveScript, Chords) {
  struct case_t {
    const char* text;
    bool ok;
    std::uint16_t key;
    std::uint8_t modifiers;
  };
  const case_t cases[] = {
      {"Ctrl+Win+H", true, 'H', drive::kCtrl | drive::kWin},
      {"ctrl+win", true, 0, drive::kCtrl | drive::kWin},
      {"F24", true, 0x87, 0},
      {"alt+7", true, '7', drive::kAlt},
      {"Esc", true, 0x1B, 0},
      {"F25", false, 0, 0},
      {"F0", false, 0, 0},
      {"Ctrl+Ctrl+A", false, 0, 0},
      {"A+Ctrl", false, 0, 0},
      {"A+B", false, 0, 0},
      {"Ctrl+", false, 0, 0},
      {"", false, 0, 0},
      {"Hyper+A", false, 0, 0},
  };
  for (const case_t& c : cases) {
    key_t key;
    EXPECT_EQ(drive::parse_chord(c.text, key), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(key.key, c.key) << c.text;
      EXPECT_EQ(key.modifiers, c.modifiers) << c.text;
    }
  }
}

TEST(DriveScript, ErrorsNameTheLine) {
  struct case_t {
    const char* script;
    int line;
    const char* message;
  };
  const case_t cases[] = {
      {"frobnicate", 1, "unknown step \"frobnicate\""},
      {"\n\"page\" 1", 2, "unknown step \"page\""},
      {"page", 1, "missing PAGE"},
      {"page #3", 1, "PAGE cannot be given by id"},
      {"select #1003", 1, "missing ITEM"},
      {"select Logons x", 1, "LIST must be #ID or @INDEX"},
      {"select #70000 x", 1, "LIST: control id out of range"},
      {"select #1a x", 1, "LIST: \"#1a\" is not #ID"},
      {"keys #5", 1, "missing KEY"},
      {"keys #5 Ctrl+Q+", 1, "\"Ctrl+Q+\" is not a key"},
      {"keys #5 \"\"", 1, "an empty text to type"},
      {"keys Edit A", 1, "CONTROL must be #ID or focus"},
      {"menu 70000", 1, "COMMAND must be a number from 0 to 65535: \"70000\""},
      {"sleep -1", 1, "MS must be a number from 0 to 600000: \"-1\""},
      {"apply now", 1, "too many arguments (\"now\")"},
      {"page \"Main", 1, "a quoted text is not closed"},
      {"page \"Main\"x", 1, "a quoted text must be followed by a blank"},
      {"page Ma\"in\"", 1, "a quote inside a word"},
      {"ok\n# fine\nrows #1006", 3,
       "nothing can follow the step on line 1, which closes the sheet"},
      {"screenshot \"\"", 1, "FILE is empty"},
      {"answer-notify #1006 2", 1, "missing RESULT"},
      {"answer-notify focus 2 0", 1, "CONTROL cannot be the focus"},
  };
  for (const case_t& c : cases) {
    try {
      parse_script(c.script);
      ADD_FAILURE() << c.script;
    } catch (const drive::script_error& error) {
      EXPECT_EQ(error.line(), c.line) << c.script;
      EXPECT_EQ(std::string(error.what()), "line " + std::to_string(c.line) + ": " + c.message)
          << c.script;
    }
  }
  try {
    parse_script(std::string_view("page a\0b", 8));
    ADD_FAILURE();
  } catch (const drive::script_error& error) {
    EXPECT_STREQ(error.what(), "line 1: a NUL character");
  }
}

}  // namespace
