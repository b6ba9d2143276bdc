// The request layouts of the agent channel, byte by byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/portable/channel_layout.h"
#include "suite/agent/request_decoder.h"

namespace agent {
namespace {

std::vector<std::uint8_t> words(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> out;
  for (const std::uint32_t v : values)
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return out;
}

TEST(ChannelLayout, CallRequestIsTheTypeWordAndTheBlock) {
  const call_block_t block{0x11223344, 0, 0x00010ABC, 0xC123};
  const auto bytes = encode_call_request(block);
  const auto expected = words({1, 0x11223344, 0, 0x00010ABC, 0xC123, 0, 0, 0});
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(ChannelLayout, SendRequestLengths) {
  struct {
    std::size_t text_length;
    bool fits;
  } const cases[] = {{0, true}, {1, true}, {100, true}, {4079, true}, {4080, false}, {9000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text_length);
    const std::string text(c.text_length, 'x');
    const auto request = encode_send_request(7, 0x20, 0xC0DE, text);
    ASSERT_EQ(request.has_value(), c.fits);
    if (!c.fits)
      continue;
    EXPECT_EQ(request->size(), 16 + c.text_length + 1);
    EXPECT_LE(request->size(), kChannelBufferSize);  // the longest text fills it exactly
    EXPECT_EQ(request->back(), 0);
  }
}

TEST(ChannelLayout, SendRequestBytes) {
  const auto request = encode_send_request(0x0102, 0x00A0B0C0, 0xC001, "kvi::a.cvm");
  std::vector<std::uint8_t> expected = words({2, 0x0102, 0x00A0B0C0, 0xC001});
  for (const char c : std::string("kvi::a.cvm"))
    expected.push_back(static_cast<std::uint8_t>(c));
  expected.push_back(0);
  EXPECT_EQ(*request, expected);
}

TEST(ChannelLayout, DecodeReadsBothTypesBack) {
  std::vector<std::uint8_t> buffer(kChannelBufferSize, 0xEE);
  const auto call = encode_call_request({5, 0, 0x1234, 0xC0C0});
  std::copy(call.begin(), call.end(), buffer.begin());
  auto decoded = decode_request(buffer);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->type, 1u);
  EXPECT_EQ(decoded->process_id, 5u);
  EXPECT_EQ(decoded->target_window, 0x1234u);
  EXPECT_EQ(decoded->message, 0xC0C0u);
  EXPECT_EQ(decoded->length, 32u);

  const auto send = *encode_send_request(9, 0x4321, 0xC0C1, "text \xC3\xA9");
  std::copy(send.begin(), send.end(), buffer.begin());
  decoded = decode_request(buffer);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->type, 2u);
  EXPECT_EQ(decoded->process_id, 9u);
  EXPECT_EQ(decoded->target_window, 0x4321u);
  EXPECT_EQ(decoded->message, 0xC0C1u);
  EXPECT_EQ(decoded->text, "text \xC3\xA9");
  EXPECT_TRUE(decoded->terminated);
  EXPECT_EQ(decoded->length, send.size());
}

TEST(ChannelLayout, DecodeRefusesWhatIsNoRequest) {
  std::vector<std::uint8_t> buffer = words({2, 1, 2, 3});
  buffer.insert(buffer.end(), {'a', 'b'});  // no terminator inside the buffer
  const auto unterminated = decode_request(buffer);
  ASSERT_TRUE(unterminated);
  EXPECT_FALSE(unterminated->terminated);
  EXPECT_EQ(unterminated->text, "ab");

  EXPECT_FALSE(decode_request(words({3, 0, 0, 0, 0, 0, 0, 0})));  // unknown type
  EXPECT_FALSE(decode_request(words({1, 0, 0})));                 // type 1 cut short
  EXPECT_FALSE(decode_request(words({2, 0})));                    // type 2 cut short
  EXPECT_FALSE(decode_request({}));
}

}  // namespace
}  // namespace agent
