// The owning buffers: their allocators, and that they wipe before they free.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/crypt_blob.h"
#include "crypto/crypt_memory.h"

namespace crypto {
namespace {

// Process-heap allocator that checks, at each free, that the block is all zeros.
struct checking_allocator {
  static inline int frees = 0;
  static inline int dirty_frees = 0;
  static void* allocate(std::size_t bytes) noexcept { return _heap_allocator::allocate(bytes); }
  static void free(void* p) noexcept {
    if (p == nullptr)
      return;
    const SIZE_T size = ::HeapSize(::GetProcessHeap(), 0, p);
    const auto* bytes = static_cast<const unsigned char*>(p);
    ++frees;
    for (SIZE_T i = 0; i < size; ++i) {
      if (bytes[i] != 0) {
        ++dirty_frees;
        break;
      }
    }
    _heap_allocator::free(p);
  }
  static void clear() { frees = dirty_frees = 0; }
};

bool is_task_memory(const void* p) {
  IMalloc* malloc = nullptr;
  if (FAILED(::CoGetMalloc(1, &malloc)))
    return false;
  const int owned = malloc->DidAlloc(const_cast<void*>(p));
  malloc->Release();
  return owned == 1;
}

TEST(CryptMemory, BuffersAreZeroFilledAndWipedBeforeTheyAreFreed) {
  checking_allocator::clear();
  {
    _mem_alloc_t<wchar_t, checking_allocator> text(12);
    EXPECT_EQ(text.size(), 12u);
    for (std::size_t i = 0; i < text.size(); ++i)
      EXPECT_EQ(text[i], L'\0');
    std::wcscpy(text.get(), L"password");
    text.shrink(4);  // the dropped tail is wiped at once
    EXPECT_EQ(text.size(), 4u);
    EXPECT_EQ(std::wmemcmp(text.get() + 4, L"\0\0\0\0\0\0\0\0", 8), 0);
    EXPECT_EQ(std::wstring(text.get(), 4), L"pass");

    _mem_alloc_t<wchar_t, checking_allocator> moved(std::move(text));
    EXPECT_EQ(text.size(), 0u);
    EXPECT_EQ(text.get(), nullptr);
    moved.allocate(3);  // replaces and wipes the old block
    EXPECT_EQ(checking_allocator::frees, 1);
    std::wcscpy(moved.get(), L"ab");
  }
  {
    CCryptBlob<_CRYPTOAPI_BLOB, checking_allocator> blob;
    blob.Assign("secret", 6);
    blob.Assign("longer secret", 13);
    EXPECT_EQ(std::memcmp(blob.pbData, "longer secret", 13), 0);
    CCryptBlob<_CRYPTOAPI_BLOB, checking_allocator> other = std::move(blob);
    EXPECT_EQ(blob.cbData, 0u);
    EXPECT_EQ(other.cbData, 13u);
  }
  EXPECT_EQ(checking_allocator::frees, 4);
  EXPECT_EQ(checking_allocator::dirty_frees, 0);
}

TEST(CryptMemory, DeobfuscatedBytesAreWipedWithTheirBlob) {
  checking_allocator::clear();
  CHeapCryptBlob envelope;
  ASSERT_EQ(envelope.Obfuscate(reinterpret_cast<const BYTE*>("plain text"), 10), S_OK);
  {
    CCryptBlob<_CRYPTOAPI_BLOB, checking_allocator> plain;
    ASSERT_EQ(plain.Deobfuscate(envelope.Data(), envelope.Size()), S_OK);
    EXPECT_EQ(std::memcmp(plain.Data(), "plain text", 10), 0);
  }
  EXPECT_EQ(checking_allocator::frees, 1);
  EXPECT_EQ(checking_allocator::dirty_frees, 0);
}

TEST(CryptMemory, AllocatorPolicies) {
  CHeapCryptBlob heap;
  heap.Assign("abc", 3);
  EXPECT_EQ(::HeapSize(::GetProcessHeap(), 0, heap.pbData), 3u);

  CComCryptBlob com;
  com.Assign("abc", 3);
  EXPECT_TRUE(is_task_memory(com.pbData));
  // Detached task memory belongs to the caller, who frees it as such.
  const DWORD size = com.Size();
  BYTE* detached = com.Detach();
  EXPECT_EQ(com.pbData, nullptr);
  EXPECT_EQ(com.Size(), 0u);
  EXPECT_EQ(std::memcmp(detached, "abc", size), 0);
  ::CoTaskMemFree(detached);

  _mem_alloc_t<unsigned char, _com_allocator> task(5);
  EXPECT_TRUE(is_task_memory(task.get()));
  EXPECT_EQ(_auto_heap_mem<unsigned char>(0).get(), nullptr);
  heap.Free();
  EXPECT_EQ(heap.pbData, nullptr);
}

TEST(CryptMemory, FailedOperationsLeaveTheBlobAlone) {
  CHeapCryptBlob blob;
  blob.Assign("keep", 4);
  EXPECT_EQ(blob.Obfuscate(nullptr, 5), E_POINTER);
  EXPECT_EQ(blob.Deobfuscate(nullptr, 5), E_POINTER);
  EXPECT_EQ(std::memcmp(blob.Data(), "keep", 4), 0);
  EXPECT_EQ(blob.Size(), 4u);
}

}  // namespace
}  // namespace crypto
