// Images in COM task memory, watched by a real malloc spy: the bytes must be
// zero by the time CoTaskMemFree sees them.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "store/cotaskmem_block.h"
#include "store/portable/profile_records.h"
#include "store_test_support.h"

namespace serialization {
namespace {

class wipe_spy final : public IMallocSpy {
 public:
  std::map<void*, SIZE_T> sizes;  // task memory allocated while registered
  int frees_seen = 0;
  int frees_not_wiped = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
      *out = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override {
    m_request = request;
    return request;
  }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
    if (actual)
      sizes[actual] = m_request;
    return actual;
  }
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
    const auto it = sizes.find(request);
    if (it != sizes.end()) {
      ++frees_seen;
      const auto* bytes = static_cast<const unsigned char*>(request);
      for (SIZE_T i = 0; i < it->second; ++i)
        if (bytes[i] != 0) {
          ++frees_not_wiped;
          break;
        }
      sizes.erase(it);
    }
    return request;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request,
                                      SIZE_T size,
                                      void** new_request,
                                      BOOL) override {
    *new_request = request;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  SIZE_T m_request = 0;
};

class TaskMemoryBlocks : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::CoRegisterMallocSpy(&m_spy), S_OK); }
  void TearDown() override { ::CoRevokeMallocSpy(); }
  wipe_spy m_spy;
};

TEST_F(TaskMemoryBlocks, SavedImagesAreWipedBeforeTheyAreFreed) {
  cvprofile_t record;
  record.profilename = L"Bank";
  record.items.emplace_back();
  record.items.back().value = L"correct horse battery staple";
  {
    cotaskmem_block_t image;
    const std::uint32_t size = SaveProfileImage(record, image);
    ASSERT_NE(size, 0u);
    ASSERT_EQ(m_spy.sizes.count(image.data()), 1u);  // it is task memory
    EXPECT_EQ(m_spy.sizes[image.data()], size);      // of exactly the image size
    CMemoryObjectEx heap_image;
    SaveProfileImage(record, heap_image);
    EXPECT_EQ(storetest::bytes_of(image), storetest::bytes_of(heap_image));
    cvprofile_t back;
    ASSERT_TRUE(LoadProfileImage(image.data(), image.size(), back));
    EXPECT_EQ(back, record);
  }
  EXPECT_EQ(m_spy.frees_seen, 1);
  EXPECT_EQ(m_spy.frees_not_wiped, 0);
}

TEST_F(TaskMemoryBlocks, AttachedComponentBuffersAreWipedToo) {
  const char secret[] = "returned by a component";
  void* returned = ::CoTaskMemAlloc(sizeof secret);
  ASSERT_NE(returned, nullptr);
  std::memcpy(returned, secret, sizeof secret);
  {
    cotaskmem_block_t block;
    block.attach(static_cast<std::uint8_t*>(returned), sizeof secret);
    EXPECT_EQ(block.size(), sizeof secret);
  }
  EXPECT_EQ(m_spy.frees_seen, 1);
  EXPECT_EQ(m_spy.frees_not_wiped, 0);

  // A block handed over is freed by its receiver, not by the block.
  cotaskmem_block_t handed;
  handed.allocate(8);
  std::uint8_t* raw = handed.detach();
  EXPECT_EQ(m_spy.frees_seen, 1);
  ::CoTaskMemFree(raw);
  EXPECT_EQ(m_spy.frees_seen, 2);
}

}  // namespace
}  // namespace serialization
