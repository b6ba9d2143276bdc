// Blob decoders take bytes from outside (a restored backup): every prefix and
// every single-byte change of valid encodings must be refused or decoded
// without reading past the bytes handed in.
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

TEST(BlobFraming, ChangedBytesNeverCrashTheDecoders) {
  // Every byte of each encoding set to a handful of telling values; what still
  // decodes must encode again to bytes the decoder accepts.
  std::vector<bytes_t> encodings = {sequence_of_three(), bytes_of(CCVIntBlob(-129).Encode()),
                                    bytes_of(CCVWStrBlob(L"p\u00e4ss").Encode())};
  for (const bytes_t& original : encodings) {
    for (std::size_t at = 0; at < original.size(); ++at) {
      for (const std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0x81, 0x84, 0xFF}) {
        bytes_t changed = original;
        changed[at] = value;
        CCVBlobSequence sequence;
        if (decode_exact(sequence, changed, changed.size())) {
          CCVBlobSequence again;
          EXPECT_TRUE(again.Decode(sequence.Encode()));
        }
        CCVAnyBlob any;
        decode_exact(any, changed, changed.size());
        CCVIntBlob integer;
        decode_exact(integer, changed, changed.size());
        CCVWStrBlob text;
        decode_exact(text, changed, changed.size());
      }
    }
  }
}

}  // namespace
}  // namespace serialization
