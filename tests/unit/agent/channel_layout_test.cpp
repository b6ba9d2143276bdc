// The request layouts of the agent channel, byte by byte (the agent link tests
// read both kinds back from the agent stand-in).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/portable/channel_layout.h"

namespace agent {
namespace {

std::vector<std::uint8_t> words(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> out;
  for (const std::uint32_t v : values)
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return out;
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

}  // namespace
}  // namespace agent
