#include "tools/tracereader/trace_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tracing/portable/trace_cipher.h"
#include "tracing/portable/trace_record.h"

namespace tracereader {
namespace {

constexpr std::string_view kHeader =
    "trace3\r\n"
    "Compiled: Dec  6 2026 10:00:00\r\n"
    "OS: Windows 10 Pro\r\n"
    "Product: Online IDs 3.0\r\n"
    "installation: NETWORK\r\n"
    "12/06/2026 10:00:00.123\r\n"
    ".\r\n";

std::vector<std::uint8_t> bytes_of(std::string_view text) {
  return {text.begin(), text.end()};
}

// Appends a record with the tracer's own record encoder.
void add(std::vector<std::uint8_t>& bytes,
         std::uint32_t thread,
         char type,
         std::string_view text = {}) {
  const std::size_t at = bytes.size();
  bytes.resize(at + tracecore::encoded_record_size(text));
  tracecore::encode_record(thread, type, text, bytes.data() + at);
}

struct Record {
  std::uint32_t thread;
  char type;
  std::string_view text;
};

std::vector<std::uint8_t> trace_file(std::initializer_list<Record> records) {
  std::vector<std::uint8_t> bytes = bytes_of(kHeader);
  for (const Record& r : records)
    add(bytes, r.thread, r.type, r.text);
  return bytes;
}

std::vector<std::string> texts(const std::vector<TraceEntry>& entries) {
  std::vector<std::string> out;
  for (const TraceEntry& e : entries)
    out.push_back(std::string(1, e.type) + ":" + e.text);
  return out;
}

std::vector<std::string> selected(const TraceFile& file, const FilterOptions& options) {
  EntryFilter filter(options);
  std::vector<TraceEntry> kept;
  for (const TraceEntry& e : file.entries) {
    if (filter.accept(e))
      kept.push_back(e);
  }
  return texts(kept);
}

TEST(TraceHeader, ParsesLinesUpToTheDotLineAndEveryPrefixIsIncomplete) {
  const auto data = trace_file({{1, 'U', "x"}});
  const HeaderParse header = parse_header(data);
  ASSERT_EQ(header.status, HeaderStatus::complete);
  EXPECT_EQ(header.size, kHeader.size());
  EXPECT_EQ(header.lines,
            (std::vector<std::string>{"trace3", "Compiled: Dec  6 2026 10:00:00",
                                      "OS: Windows 10 Pro", "Product: Online IDs 3.0",
                                      "installation: NETWORK", "12/06/2026 10:00:00.123"}));

  for (std::size_t n = 0; n < kHeader.size(); ++n) {
    const auto prefix = bytes_of(kHeader.substr(0, n));
    EXPECT_EQ(parse_header(prefix).status, HeaderStatus::incomplete) << n;
    const TraceFile growing = decode_trace(prefix, true);
    EXPECT_FALSE(growing.failure) << n;
    const TraceFile final_file = decode_trace(prefix, false);
    ASSERT_TRUE(final_file.failure) << n;
    EXPECT_EQ(final_file.failure->kind, FailureKind::truncated);
  }
}

TEST(TraceHeader, RejectsDamageWithItsOffset) {
  struct Case {
    std::string_view data;
    std::uint64_t offset;
    std::string_view reason;
  };
  const Case cases[] = {
      {"trace2\r\n.\r\n", 5, "not a trace file"},
      {"Trace3\r\n.\r\n", 0, "not a trace file"},
      {"trace3\r\nOS: x\n.\r\n", 13, "ends in LF without CR"},
      {"trace3\r\nOS\rx\r\n.\r\n", 10, "CR without LF"},
      {"trace3\r\nO\x01S\r\n.\r\n", 9, "control byte 0x01"},
  };
  for (const Case& c : cases) {
    const HeaderParse header = parse_header(bytes_of(c.data));
    EXPECT_EQ(header.status, HeaderStatus::invalid) << c.data;
    EXPECT_EQ(header.error_offset, c.offset) << c.data;
    EXPECT_NE(header.error.find(c.reason), std::string::npos) << header.error;
  }
  // Another file type is turned away before its first line is complete.
  const TraceFile other = decode_trace(bytes_of("PK\x03\x04"), true);
  ASSERT_TRUE(other.failure);
  EXPECT_EQ(other.failure->kind, FailureKind::bad_header);
  EXPECT_EQ(other.failure->message(),
            "invalid header at offset 0: not a trace file: the first line is not \"trace3\"");

  std::string endless = "trace3\r\n";
  while (endless.size() <= kMaxHeaderSize)
    endless += "Product: something\r\n";
  EXPECT_EQ(parse_header(bytes_of(endless)).status, HeaderStatus::invalid);
}

TEST(TraceRecords, OverlongPayloadsAreCutBetweenCharacters) {
  // Two-, three- and four-byte characters whose run crosses the 65,535-byte
  // limit at every offset inside a character.
  for (const std::string unit : {"\xC3\xA9", "\xE4\xB8\x96", "\xF0\x9F\x98\x80"}) {
    for (std::size_t lead = 0; lead < unit.size(); ++lead) {
      std::string text(lead, 'a');
      while (text.size() < tracecore::kMaxRecordPayload + 8)
        text += unit;
      const TraceFile file = decode_trace(trace_file({{3, 'U', text}, {3, 'U', "after"}}), false);
      ASSERT_FALSE(file.failure) << file.failure->message();
      ASSERT_EQ(file.entries.size(), 2u);
      const std::string& kept = file.entries[0].text;
      EXPECT_GT(kept.size(), tracecore::kMaxRecordPayload - unit.size());
      EXPECT_LE(kept.size(), tracecore::kMaxRecordPayload);
      EXPECT_EQ(kept, text.substr(0, kept.size()));
      EXPECT_EQ(file.entries[1].text, "after");
    }
  }
}

TEST(TraceRecords, TracksCallsPerThreadAndSharedClock) {
  const auto data = trace_file({{1, '>', "Outer"},
                                {2, '>', "Worker"},
                                {1, 'U', "in outer"},
                                {2, 't', "12/06/26"},
                                {1, '>', "Inner"},
                                {2, 'T', "10:00:00.123"},
                                {2, 'U', "working"},
                                {1, 'E', "-5 device not ready"},
                                {1, '<', {}},
                                {2, '<', {}},
                                {1, 'U', "back in outer"},
                                {2, 'D', "idle"},
                                {1, '<', {}},
                                {1, '>', "StillOpen"}});
  const TraceFile file = decode_trace(data, false);
  ASSERT_FALSE(file.failure);
  std::vector<std::string> scopes;
  for (const TraceEntry& e : file.entries) {
    scopes.push_back(std::to_string(e.depth) + " " + e.function.str() +
                     (e.anomaly == Anomaly::none ? "" : " !"));
  }
  EXPECT_EQ(scopes,
            (std::vector<std::string>{"0 Outer", "0 Worker", "1 Outer", "1 Worker", "1 Inner",
                                      "1 Worker", "1 Worker", "2 Inner", "1 Inner", "0 Worker",
                                      "1 Outer", "0 ", "0 Outer", "0 StillOpen"}));
  // The clock records of thread 2 set the date and time of thread 1 too.
  EXPECT_TRUE(file.entries[2].date.empty());
  EXPECT_EQ(file.entries[4].date, "12/06/26");
  EXPECT_TRUE(file.entries[4].time.empty());
  EXPECT_EQ(file.entries[7].date, "12/06/26");
  EXPECT_EQ(file.entries[7].time, "10:00:00.123");
}

TEST(TraceRecords, ReportsUnbalancedAndTooDeepCallsWithoutStopping) {
  std::vector<std::uint8_t> data = bytes_of(kHeader);
  add(data, 3, '<');
  const std::size_t calls = kMaxTrackedDepth + 3;
  for (std::size_t i = 0; i < calls; ++i)
    add(data, 3, '>', "f" + std::to_string(i));
  for (std::size_t i = 0; i < calls; ++i)
    add(data, 3, '<');
  add(data, 3, 'U', "done");
  const TraceFile file = decode_trace(data, false);
  ASSERT_FALSE(file.failure);
  ASSERT_EQ(file.entries.size(), 2 * calls + 2);

  EXPECT_EQ(file.entries[0].anomaly, Anomaly::leave_without_enter);
  EXPECT_TRUE(file.entries[0].function.empty());
  const TraceEntry& deepest = file.entries[calls];
  EXPECT_EQ(deepest.depth, calls - 1);
  EXPECT_EQ(deepest.anomaly, Anomaly::depth_limit);
  EXPECT_EQ(deepest.function, "f" + std::to_string(calls - 1));
  EXPECT_EQ(file.entries[kMaxTrackedDepth].anomaly, Anomaly::none);
  // Leaving the last tracked call names it again.
  const TraceEntry& last_tracked_left = file.entries[2 * calls - kMaxTrackedDepth + 1];
  EXPECT_EQ(last_tracked_left.function, "f" + std::to_string(kMaxTrackedDepth - 1));
  EXPECT_EQ(last_tracked_left.depth, kMaxTrackedDepth - 1);
  EXPECT_EQ(file.entries.back().depth, 0u);
  EXPECT_EQ(file.entries.back().anomaly, Anomaly::none);
}

TEST(TraceFilter, SelectsErrorsThreadsAndFunctionSubtrees) {
  const auto data = trace_file({{1, 'U', "before"},
                                {1, '>', "Foo"},
                                {2, '>', "Foo"},
                                {1, 'E', "-1 first"},
                                {1, '>', "Foo"},  // recursion stays inside the outer call
                                {1, 'T', "10:00:00.000"},
                                {1, '<', {}},
                                {2, 'U', "other thread"},
                                {1, '>', "Bar"},
                                {1, 'U', "nested"},
                                {1, '<', {}},
                                {1, '<', {}},
                                {1, 'E', "-2 outside"},
                                {2, '<', {}}});
  const TraceFile file = decode_trace(data, false);
  ASSERT_FALSE(file.failure);

  EXPECT_EQ(selected(file, {true, {}, {}}),
            (std::vector<std::string>{"E:-1 first", "E:-2 outside"}));
  EXPECT_EQ(selected(file, {false, 2u, {}}),
            (std::vector<std::string>{">:Foo", "U:other thread", "<:"}));
  EXPECT_EQ(selected(file, {false, 1u, "Foo"}),
            (std::vector<std::string>{">:Foo", "E:-1 first", ">:Foo", "<:", ">:Bar", "U:nested",
                                      "<:", "<:"}));
  EXPECT_EQ(selected(file, {true, {}, "Foo"}), (std::vector<std::string>{"E:-1 first"}));
  EXPECT_EQ(selected(file, {false, {}, "Bar"}),
            (std::vector<std::string>{">:Bar", "U:nested", "<:"}));
  // Clock records are folded into the columns unless asked for.
  EXPECT_EQ(selected(file, {false, 1u, "Foo", true})[3], "T:10:00:00.000");
}

TEST(TraceDecoding, CutRecordIsPendingWhileGrowingAndTruncatedAtTheEnd) {
  const auto data = trace_file({{5, 'U', "kept"}, {5, 'U', "cut off here"}});
  const std::size_t last = kHeader.size() + tracecore::kRecordHeaderSize + 4;
  for (std::size_t cut = last + 1; cut < data.size(); ++cut) {
    const std::span<const std::uint8_t> prefix(data.data(), cut);
    const TraceFile growing = decode_trace(prefix, true);
    EXPECT_FALSE(growing.failure) << cut;
    EXPECT_EQ(growing.pending_bytes, cut - last) << cut;
    ASSERT_EQ(growing.entries.size(), 1u);

    const TraceFile final_file = decode_trace(prefix, false);
    ASSERT_TRUE(final_file.failure) << cut;
    EXPECT_EQ(final_file.failure->kind, FailureKind::truncated);
    EXPECT_EQ(final_file.failure->offset, last);
    EXPECT_EQ(final_file.failure->message().rfind("truncated at offset " + std::to_string(last), 0),
              0u);
    EXPECT_EQ(texts(final_file.entries), (std::vector<std::string>{"U:kept"}));
  }
}

TEST(TraceDecoding, StopsAtCorruptionAndKeepsWhatCameBefore) {
  auto data = trace_file({{7, 'U', "ok"}, {7, 'U', "next"}, {7, 'U', "after"}});
  const std::size_t second = kHeader.size() + tracecore::kRecordHeaderSize + 2;
  data[second + 4] = 0x9f;
  TraceDecoder decoder;
  EXPECT_EQ(texts(decoder.feed(data)), (std::vector<std::string>{"U:ok"}));
  ASSERT_TRUE(decoder.failure());
  EXPECT_EQ(decoder.failure()->message(),
            "corrupt record at offset " + std::to_string(second) + ": unknown record type 0x9f");
  EXPECT_TRUE(decoder.feed(trace_file({{1, 'U', "more"}})).empty());

  // The type is judged before the payload arrives, so a follower stops at once.
  const std::uint8_t bad_header[] = {1, 0, 0, 0, 'X', 0xff, 0xff};
  auto growing = bytes_of(kHeader);
  growing.insert(growing.end(), std::begin(bad_header), std::end(bad_header));
  EXPECT_TRUE(decode_trace(growing, true).failure);
}

TEST(TraceDecoding, RejectsPayloadsThatAreNotUtf8) {
  for (std::string_view bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "ab\xED\xA0\x80",
                               "\xF4\x90\x80\x80", "x\xE2\x82", "\x80", "\xFF"}) {
    const TraceFile file = decode_trace(trace_file({{1, 'U', "fine"}, {1, 'U', bad}}), false);
    ASSERT_TRUE(file.failure);
    EXPECT_EQ(file.failure->kind, FailureKind::corrupt);
    EXPECT_EQ(file.failure->offset, kHeader.size() + tracecore::kRecordHeaderSize + 4);
    EXPECT_NE(file.failure->reason.find("invalid UTF-8"), std::string::npos);
    EXPECT_EQ(file.entries.size(), 1u);
  }
}

TEST(TraceFormat, LaysOutColumnsAndEscapesText) {
  const auto data = trace_file({{0x10, 'U', "no clock yet"},
                                {0x10, 't', "12/06/26"},
                                {0x10, 'T', "10:00:00.123"},
                                {0x10, '>', "CFoo::Bar"},
                                {0x10, 'U', "hello"},
                                {0x10, 'U', "two\nlines\x1b[31m\x7f \xC2\x9B"},
                                {0x10, '<', {}},
                                {0x1a2b3c, '<', {}}});
  const TraceFile file = decode_trace(data, false);
  ASSERT_EQ(file.entries.size(), 8u);
  std::vector<std::string> lines;
  for (const TraceEntry& e : file.entries)
    lines.push_back(format_entry(e));
  EXPECT_EQ(lines[0], "0x0010 --/--/-- --:--:--.--- -  U  no clock yet");
  EXPECT_EQ(lines[3], "0x0010 12/06/26 10:00:00.123 CFoo::Bar  >");
  EXPECT_EQ(lines[4], "0x0010 12/06/26 10:00:00.123   CFoo::Bar  U  hello");
  EXPECT_EQ(lines[5],
            "0x0010 12/06/26 10:00:00.123   CFoo::Bar  U  two\\nlines\\x1b[31m\\x7f \\u009b");
  EXPECT_EQ(lines[6], "0x0010 12/06/26 10:00:00.123 CFoo::Bar  <");
  EXPECT_EQ(lines[7], "0x1a2b3c 12/06/26 10:00:00.123 -  <  [!] " +
                          std::string(describe(Anomaly::leave_without_enter)));

  TraceEntry deep = file.entries[4];
  deep.depth = kMaxIndentLevels + 6;
  EXPECT_EQ(format_entry(deep), "0x0010 12/06/26 10:00:00.123 " +
                                    std::string(2 * kMaxIndentLevels, ' ') +
                                    "[depth 70] CFoo::Bar  U  hello");
  EXPECT_EQ(printable("ok\xFF\xC3"), "ok\\xff\\xc3");
}

// Known answers: the first two blocks as an implementation in another language
// computes them, the stream's block at 992, and one block whose halves start
// negative, so that the right shift must be arithmetic (a logical one gives
// 6483dd79 7d6131e4 there, and another stream from the second block on).
TEST(TraceCipher, KeystreamKnownAnswers) {
  using bytes = std::vector<std::uint8_t>;
  bytes stream(1000, 0);
  tracecore::apply_trace_keystream(stream.data(), stream.size());
  EXPECT_EQ(bytes(stream.begin(), stream.begin() + 16),
            (bytes{0x32, 0x43, 0xc7, 0x2a, 0xf9, 0x6e, 0x2b, 0x17, 0xe1, 0x98, 0x40, 0x3f, 0xd3,
                   0xab, 0x37, 0xa6}));
  EXPECT_EQ(bytes(stream.end() - 8, stream.end()),
            (bytes{0xb5, 0xfa, 0x00, 0x60, 0x37, 0x13, 0x50, 0x57}));
  for (std::size_t size : {0u, 1u, 7u, 8u, 9u, 23u, 351u}) {
    bytes data(size, 0);
    tracecore::apply_trace_keystream(data.data(), data.size());
    EXPECT_EQ(data, bytes(stream.begin(), stream.begin() + size)) << size;
  }
  const tracecore::tea_block_t out =
      tracecore::tea_encipher({0x80000001u, 0xFFFFFFF0u}, tracecore::kTraceKey);
  EXPECT_EQ(out.y, 0xa1918645u);
  EXPECT_EQ(out.z, 0x2dfe223eu);
}

}  // namespace
}  // namespace tracereader
