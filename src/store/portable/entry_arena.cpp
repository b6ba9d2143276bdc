#include "store/portable/entry_arena.h"

#include <cstdint>

namespace serialization {

arena_chunk* arena_chunk::open(std::size_t capacity) {
  void* memory = ::operator new(sizeof(arena_chunk) + capacity);
  return new (memory) arena_chunk(capacity);
}

void* arena_chunk::carve(std::size_t size, std::size_t alignment) noexcept {
  const auto base = reinterpret_cast<std::uintptr_t>(bytes());
  const std::uintptr_t at = (base + m_used + alignment - 1) & ~std::uintptr_t(alignment - 1);
  const std::size_t end = static_cast<std::size_t>(at - base) + size;
  if (end > m_capacity)
    return nullptr;
  m_used = end;
  ++m_carved;
  return reinterpret_cast<void*>(at);
}

void arena_chunk::release_one() noexcept {
  if (m_live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    this->~arena_chunk();
    ::operator delete(static_cast<void*>(this));
  }
}

void arena_chunk::close() noexcept {
  // From the bias to the number of entries still alive; the chunk goes now
  // when none is.
  const std::size_t settle = kOpenBias - m_carved;
  if (m_live.fetch_sub(settle, std::memory_order_acq_rel) == settle) {
    this->~arena_chunk();
    ::operator delete(static_cast<void*>(this));
  }
}

}  // namespace serialization
