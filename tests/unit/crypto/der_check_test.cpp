// The DER framing check that guards the envelope decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crypto/portable/der_check.h"

namespace crypto {
namespace {

TEST(DerCheck, Framing) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> der;
    bool single;
  } cases[] = {
      {"integer", {0x02, 0x01, 0x04}, true},
      {"empty octets", {0x04, 0x00}, true},
      {"long form", std::vector<std::uint8_t>{0x04, 0x81, 0x01, 0xAA}, true},
      {"two length bytes", {0x04, 0x82, 0x00, 0x01, 0xAA}, true},
      {"sequence", {0x30, 0x06, 0x02, 0x01, 0x04, 0x04, 0x01, 0x00}, true},
      {"nested", {0x30, 0x04, 0x30, 0x02, 0x05, 0x00}, true},
      {"primitive content is not walked", {0x04, 0x02, 0x30, 0x7F}, true},
      {"empty", {}, false},
      {"tag only", {0x04}, false},
      {"content short by one", {0x04, 0x03, 0x01, 0x02}, false},
      {"trailing byte", {0x02, 0x01, 0x04, 0x00}, false},
      {"two elements", {0x02, 0x01, 0x04, 0x02, 0x01, 0x04}, false},
      {"indefinite length", {0x30, 0x80, 0x02, 0x01, 0x04, 0x00, 0x00}, false},
      {"five length bytes", {0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0xAA}, false},
      {"length bytes missing", {0x04, 0x82, 0x00}, false},
      {"huge length", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, false},
      {"multi-byte tag", {0x1F, 0x81, 0x01, 0x00}, false},
      {"inner element short", {0x30, 0x03, 0x04, 0x02, 0x01}, false},
      {"inner element long", {0x30, 0x05, 0x02, 0x01, 0x04, 0x04, 0x05}, false},
      {"inner header cut", {0x30, 0x01, 0x04}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_single_der_element(c.der.data(), c.der.size()), c.single);
  }
  EXPECT_FALSE(is_single_der_element(nullptr, 0));
}

TEST(DerCheck, NestingIsLimited) {
  // Eight constructed levels pass; a ninth is refused rather than walked.
  auto nest = [](int levels) {
    std::vector<std::uint8_t> der = {0x05, 0x00};
    for (int i = 0; i < levels; ++i) {
      der.insert(der.begin(), {0x30, static_cast<std::uint8_t>(der.size())});
    }
    return der;
  };
  EXPECT_TRUE(is_single_der_element(nest(8).data(), nest(8).size()));
  EXPECT_FALSE(is_single_der_element(nest(9).data(), nest(9).size()));
}

}  // namespace
}  // namespace crypto
