// Images in COM task memory, watched by a malloc spy: the bytes must be zero
// by the time CoTaskMemFree sees them.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "store/cotaskmem_block.h"
#include "store/portable/profile_records.h"
#include "store_test_support.h"
#include "tests/support/free_spy.h"

namespace serialization {
namespace {

class TaskMemoryBlocks : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::CoRegisterMallocSpy(&m_spy), S_OK); }
  void TearDown() override { ::CoRevokeMallocSpy(); }
  testsupport::free_spy m_spy;
};

TEST_F(TaskMemoryBlocks, SavedImagesAreWipedBeforeTheyAreFreed) {
  cvprofile_t record;
  record.profilename = L"Bank";
  record.items.emplace_back();
  record.items.back().value = L"correct horse battery staple";
  std::uint32_t size = 0;
  {
    cotaskmem_block_t image;
    size = SaveProfileImage(record, image);
    ASSERT_NE(size, 0u);
    CMemoryObjectEx heap_image;
    SaveProfileImage(record, heap_image);
    EXPECT_EQ(storetest::bytes_of(image), storetest::bytes_of(heap_image));
    cvprofile_t back;
    ASSERT_TRUE(LoadProfileImage(image.data(), image.size(), back));
    EXPECT_EQ(back, record);
  }
  // One block of task memory, of exactly the image size, zero when freed.
  const auto freed = m_spy.take_freed();
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_EQ(freed[0].size(), size);
  EXPECT_TRUE(testsupport::all_zero(freed[0]));
}

TEST_F(TaskMemoryBlocks, AttachedBuffersAreWipedAndDetachedOnesAreNotFreed) {
  const char secret[] = "returned by a component";
  void* returned = ::CoTaskMemAlloc(sizeof secret);
  ASSERT_NE(returned, nullptr);
  std::memcpy(returned, secret, sizeof secret);
  {
    cotaskmem_block_t block;
    block.attach(static_cast<std::uint8_t*>(returned), sizeof secret);
    EXPECT_EQ(block.size(), sizeof secret);
  }
  auto freed = m_spy.take_freed();
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_TRUE(testsupport::all_zero(freed[0]));

  // A block handed over is freed by its receiver, with what the receiver left
  // in it (which the spy sees as it was).
  std::uint8_t* raw = nullptr;
  {
    cotaskmem_block_t handed;
    std::memcpy(handed.allocate(sizeof secret), secret, sizeof secret);
    raw = handed.detach();
  }
  EXPECT_TRUE(m_spy.take_freed().empty());
  ::CoTaskMemFree(raw);
  freed = m_spy.take_freed();
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_EQ(std::memcmp(freed[0].data(), secret, sizeof secret), 0);
}

}  // namespace
}  // namespace serialization
