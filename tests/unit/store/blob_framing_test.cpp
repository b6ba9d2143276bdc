// Blob decoders take bytes from outside (a restored backup): every prefix of a
// valid encoding must be refused without reading past the bytes handed in.
// (The framing check in front of the decoders is the DER fuzz target's.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "store/blobs.h"
#include "store_test_support.h"

namespace serialization {
namespace {

using storetest::bytes_of;
using storetest::bytes_t;

// Decodes exactly `size` bytes from a heap block of that size, so that a read
// past the end lands outside the block.
template <typename Blob>
bool decode_exact(Blob& blob, const bytes_t& bytes, std::size_t size) {
  std::vector<std::uint8_t> exact(bytes.begin(), bytes.begin() + size);
  return blob.Decode(exact.data(), static_cast<DWORD>(exact.size()));
}

bytes_t sequence_of_three() {
  CCVBlobSequence sequence;
  sequence.Append(CCVIntBlob(-1).Encode());
  sequence.Append(CCVWStrBlob(L"user name").Encode());
  const std::uint8_t secret[] = {0x00, 0x30, 0x82, 0xFF};
  sequence.Append(CCVAnyBlob(secret, sizeof secret).Encode());
  return bytes_of(sequence.Encode());
}

TEST(BlobFraming, TruncatedAndPaddedSequencesAreRefused) {
  const bytes_t whole = sequence_of_three();
  CCVBlobSequence decoded;
  ASSERT_TRUE(decode_exact(decoded, whole, whole.size()));
  EXPECT_EQ(decoded.Count(), 3u);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    EXPECT_FALSE(decode_exact(decoded, whole, size)) << size;
    EXPECT_EQ(decoded.Count(), 0u);
  }
  bytes_t padded = whole;
  padded.push_back(0);
  EXPECT_FALSE(decode_exact(decoded, padded, padded.size()));
}

}  // namespace
}  // namespace serialization
