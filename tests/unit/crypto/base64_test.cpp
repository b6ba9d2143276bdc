// Base64 through Crypt32 and through the built-in codec: they agree.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "crypto/base64.h"

namespace crypto {
namespace {

using bytes_t = std::vector<unsigned char>;
const base64_api_t kBuiltIn{};

bytes_t bytes_of(const _auto_heap_mem<unsigned char>& mem) {
  return bytes_t(mem.get(), mem.get() + mem.size());
}

TEST(Base64, BothCodecsAgreeOnRandomData) {
  // Lengths past 48 bytes make Crypt32 break its lines; the text is one line.
  const base64_api_t& crypt32 = process_base64();
  std::mt19937 random(5);
  for (std::size_t length = 0; length <= 300; length += length < 100 ? 1 : 37) {
    SCOPED_TRACE(length);
    bytes_t data(length);
    for (auto& b : data)
      b = static_cast<unsigned char>(random());
    std::wstring by_crypt32, built_in, by_default;
    ASSERT_EQ(Base64Encode(crypt32, data.data(), static_cast<DWORD>(length), by_crypt32), S_OK);
    ASSERT_EQ(Base64Encode(kBuiltIn, data.data(), static_cast<DWORD>(length), built_in), S_OK);
    ASSERT_EQ(Base64Encode(data.data(), static_cast<DWORD>(length), by_default), S_OK);
    EXPECT_EQ(by_crypt32, built_in);
    EXPECT_EQ(by_default, built_in);
    _auto_heap_mem<unsigned char> crossed, own, decoded;
    ASSERT_EQ(Base64Decode(crypt32, built_in, crossed), S_OK);
    ASSERT_EQ(Base64Decode(kBuiltIn, by_crypt32, own), S_OK);
    ASSERT_EQ(Base64Decode(by_crypt32, decoded), S_OK);
    EXPECT_EQ(bytes_of(crossed), data);
    EXPECT_EQ(bytes_of(own), data);
    EXPECT_EQ(bytes_of(decoded), data);
  }
}

TEST(Base64, InvalidTextFailsAndLeavesTheOutputAlone) {
  for (const base64_api_t* api : {&process_base64(), &kBuiltIn}) {
    _auto_heap_mem<unsigned char> bytes(2);
    bytes[0] = 7;
    EXPECT_EQ(Base64Decode(*api, L"YW*j", bytes), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_EQ(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 7);
  }
  std::wstring text = L"unchanged";
  EXPECT_EQ(Base64Encode(nullptr, 3, text), E_POINTER);
  EXPECT_EQ(text, L"unchanged");
}

}  // namespace
}  // namespace crypto
