// A COM malloc spy for tests of the rule that buffers which may hold secrets
// are overwritten with zeros before they are freed.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <objidl.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using bytes_t = std::vector<BYTE>;

inline bool all_zero(const bytes_t& block) {
  return std::all_of(block.begin(), block.end(), [](BYTE b) { return b == 0; });
}

// Records the bytes of every task-memory block allocated while it is
// registered, as they are when the block is freed.
class free_spy final : public IMallocSpy {
 public:
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

  // What is wrong with the blocks freed since the last look: one still holds
  // the secret's bytes, or none of at least their size was zeroed ("" when the
  // secret was wiped).
  std::string wipe_failure(const void* secret, std::size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(secret);
    std::string failure = "no zeroed block of the secret's size was freed";
    for (const bytes_t& block : take_freed()) {
      if (std::search(block.begin(), block.end(), bytes, bytes + size) != block.end())
        return "a block was freed with the secret in it";
      if (block.size() >= size && all_zero(block))
        failure.clear();
    }
    return failure;
  }

 private:
  std::mutex m_lock;
  SIZE_T m_pending = 0;
  std::map<void*, SIZE_T> m_sizes;
  std::vector<bytes_t> m_freed;
};

}  // namespace testsupport
