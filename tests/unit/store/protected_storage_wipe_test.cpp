// Buffers of the protected storage that may hold secrets are overwritten with
// zeros before they are freed. A malloc spy registered with COM looks at every
// task-memory block at the moment it is freed.
#include <windows.h>

#include <objbase.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "store/protected_storage.h"
#include "unit/store/protected_storage_test_support.h"

namespace {

using bytes_t = std::vector<BYTE>;

// Records the bytes of every block allocated while it is registered, as they
// are when the block is freed.
class CFreeSpy final : public IMallocSpy {
 public:
  // IUnknown: the spy lives as long as the test program.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
      *object = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override {
    m_lock.lock();
    m_pending = size;
    return size;
  }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    if (block)
      m_sizes[block] = m_pending;
    m_lock.unlock();
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const auto it = m_sizes.find(block); it != m_sizes.end()) {
      const BYTE* bytes = static_cast<const BYTE*>(block);
      m_freed.emplace_back(bytes, bytes + it->second);
      m_sizes.erase(it);
    }
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** request, BOOL) override {
    m_lock.lock();
    m_sizes.erase(block);
    m_pending = size;
    *request = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override {
    if (block)
      m_sizes[block] = m_pending;
    m_lock.unlock();
    return block;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  std::vector<bytes_t> take_freed() {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::exchange(m_freed, {});
  }

 private:
  std::mutex m_lock;
  SIZE_T m_pending = 0;
  std::map<void*, SIZE_T> m_sizes;
  std::vector<bytes_t> m_freed;
};

CFreeSpy g_spy;

bytes_t bytes_of(const std::wstring& text) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
  return bytes_t(bytes, bytes + text.size() * sizeof(wchar_t));
}

bool holds(const bytes_t& block, const bytes_t& secret) {
  return std::search(block.begin(), block.end(), secret.begin(), secret.end()) != block.end();
}

bool all_zero(const bytes_t& block) {
  return std::all_of(block.begin(), block.end(), [](BYTE b) { return b == 0; });
}

class ProtectedStorageWipe : public ::testing::Test {
 protected:
  void SetUp() override {
    ::SetEnvironmentVariableW(L"CVOPS_STANDIN_STORE", m_store.name().c_str());
    ASSERT_EQ(::CoRegisterMallocSpy(&g_spy), S_OK);
  }
  void TearDown() override {
    ::CoRevokeMallocSpy();
    ::SetEnvironmentVariableW(L"CVOPS_STANDIN_STORE", nullptr);
  }

  pstest::scratch_store m_store;
};

// The spy sees a block that is freed without being wiped.
TEST_F(ProtectedStorageWipe, TheSpySeesTheBytesOfAFreedBlock) {
  const std::wstring secret = L"not wiped";
  auto* block = static_cast<wchar_t*>(::CoTaskMemAlloc((secret.size() + 1) * sizeof(wchar_t)));
  ASSERT_NE(block, nullptr);
  secret.copy(block, secret.size());
  ::CoTaskMemFree(block);
  const auto freed = g_spy.take_freed();
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_TRUE(holds(freed[0], bytes_of(secret)));
}

TEST_F(ProtectedStorageWipe, SecretsAreCopiedThenZeroedThenFreed) {
  const pstore::CProtectedStorage ps(pstest::beside_program(L"CvoPS.dll"));
  const std::wstring text = L"profile text with secret 4711";
  const std::wstring value = L"reference value 0815";
  const std::string image = "image holding a password 1234";
  const pstore::handle_t h = ps.init();
  ps.save(h, text.c_str());
  ps.commit(h);
  const auto set_reference = reinterpret_cast<CVOPSSetReference_fn>(
      reinterpret_cast<void*>(::GetProcAddress(ps.module(), "CVOPSSetReference")));
  ASSERT_EQ(set_reference(h, L"ref", value.c_str()), S_OK);
  g_spy.take_freed();

  const struct {
    const char* call;
    std::function<bytes_t()> read;  // the copy the caller got
    bytes_t secret;
  } cases[] = {
      {"query", [&] { return bytes_of(std::wstring(ps.query(h, nullptr).view())); },
       bytes_of(text)},
      {"get_reference", [&] { return bytes_of(std::wstring(ps.get_reference(h, L"ref").view())); },
       bytes_of(value)},
      {"read_shared_profile",
       [&] {
         const std::wstring id = L"template";
         ps.entry_points().CVOPSWriteProfileToSharedStorage(
             h, &CVOPS_PROFILE_GUID, id.c_str(), static_cast<DWORD>(image.size()),
             reinterpret_cast<const BYTE*>(image.data()));
         g_spy.take_freed();
         const auto profile = ps.read_shared_profile(h);
         return bytes_t(profile.image.begin(), profile.image.end());
       },
       bytes_t(image.begin(), image.end())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    const bytes_t copy = c.read();
    EXPECT_EQ(copy, c.secret);
    const auto freed = g_spy.take_freed();
    bool wiped = false;
    for (const bytes_t& block : freed) {
      EXPECT_FALSE(holds(block, c.secret)) << "a block was freed with the secret in it";
      wiped = wiped || (block.size() >= c.secret.size() && all_zero(block));
    }
    EXPECT_TRUE(wiped) << "no zeroed block of the secret's size was freed";
  }
  ps.term(h);
}

}  // namespace
