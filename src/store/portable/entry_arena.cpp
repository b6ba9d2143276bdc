#include "store/portable/entry_arena.h"

#include <cstdint>
#include <mutex>

namespace serialization {

namespace {

// Under the address sanitizer retired chunks go straight back to the heap, so
// that any use of a chunk after its last entry went is caught there rather
// than hidden by the chunk's reuse.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepRetiredChunks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepRetiredChunks = false;
#else
constexpr bool kKeepRetiredChunks = true;
#endif
#else
constexpr bool kKeepRetiredChunks = true;
#endif

// Set once the cache below is destroyed (at the end of the program or when the
// module unloads): chunks retired after that go straight back to the heap.
// Constant-initialised and trivially destroyed, so it is valid throughout.
std::atomic<bool> g_cache_gone{false};

class chunk_cache {
 public:
  static constexpr std::size_t kMaxChunks = 16;  // 1 MB

  chunk_cache() = default;
  chunk_cache(const chunk_cache&) = delete;
  chunk_cache& operator=(const chunk_cache&) = delete;
  ~chunk_cache() {
    g_cache_gone.store(true);
    std::lock_guard<std::mutex> guard(m_lock);
    while (m_count > 0)
      ::operator delete(m_chunks[--m_count]);
  }

  void* take() noexcept {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_count > 0 ? m_chunks[--m_count] : nullptr;
  }
  void clear() noexcept {
    std::lock_guard<std::mutex> guard(m_lock);
    while (m_count > 0)
      ::operator delete(m_chunks[--m_count]);
  }
  bool keep(void* chunk) noexcept {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_count == kMaxChunks)
      return false;
    m_chunks[m_count++] = chunk;
    return true;
  }

 private:
  std::mutex m_lock;
  void* m_chunks[kMaxChunks];
  std::size_t m_count = 0;
};

chunk_cache& cache() {
  static chunk_cache instance;
  return instance;
}

}  // namespace

void arena_chunk::clear_cache() noexcept {
  if (!g_cache_gone.load())
    cache().clear();
}

arena_chunk* arena_chunk::open() {
  void* memory = g_cache_gone.load() ? nullptr : cache().take();
  if (memory == nullptr)
    memory = ::operator new(sizeof(arena_chunk) + kCapacity);
  return new (memory) arena_chunk();
}

void arena_chunk::release_one() noexcept {
  if (m_live.fetch_sub(1, std::memory_order_acq_rel) == 1)
    retire();
}

void arena_chunk::close() noexcept {
  // From the bias to the number of entries still alive; the chunk goes now
  // when none is.
  const std::size_t settle = kOpenBias - m_carved;
  if (m_live.fetch_sub(settle, std::memory_order_acq_rel) == settle)
    retire();
}

void arena_chunk::retire() noexcept {
  this->~arena_chunk();
  void* memory = this;
  if (!kKeepRetiredChunks || g_cache_gone.load() || !cache().keep(memory))
    ::operator delete(memory);
}

}  // namespace serialization
