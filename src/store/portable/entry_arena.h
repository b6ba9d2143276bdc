// Where the entries of a loaded image live.
//
// Loading an image creates tens of thousands of small entries at once; taking
// each from the heap costs far more than reading it. An entry_arena carves
// them, control block and all, out of large chunks in reading order, which
// also keeps a loaded tree compact and in the order it is written back.
//
// Entries stay ordinary shared entries: each is freed on its own when its
// last holder lets go, and a chunk goes back to the heap when the last of its
// entries has gone (a few entries kept from a dropped tree keep their chunk
// alive, not the tree). Chunk counts are atomic, so entries may be dropped on
// any thread; only their creation belongs to the loading thread.
//
// Every entry's destructor wipes what it held before its chunk is reused or
// freed, as it would before a heap block went back.
#pragma once

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace serialization {

class arena_chunk {
 public:
  // A chunk with room for capacity bytes, held open by its creator.
  static arena_chunk* open(std::size_t capacity);

  // Room for size bytes at that alignment (a power of two), or null when full.
  void* carve(std::size_t size, std::size_t alignment) noexcept;
  bool has_room(std::size_t size) const noexcept { return m_capacity - m_used >= size; }
  bool holds(const void* p) const noexcept {
    const auto* byte = static_cast<const unsigned char*>(p);
    return byte >= bytes() && byte < bytes() + m_capacity;
  }
  // One entry carved from the chunk has gone.
  void release_one() noexcept;
  // Its creator carves no more; the chunk goes once its entries have.
  void close() noexcept;

 private:
  // Until it is closed a chunk counts from a large bias, so entries dropped
  // while it is being filled never bring it to zero, and carving needs no
  // atomic update: the creator settles the count once, on closing.
  static constexpr std::size_t kOpenBias = std::size_t{1} << (sizeof(std::size_t) * 8 - 2);

  explicit arena_chunk(std::size_t capacity) noexcept : m_capacity(capacity) {}
  unsigned char* bytes() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }
  const unsigned char* bytes() const noexcept {
    return reinterpret_cast<const unsigned char*>(this + 1);
  }

  std::atomic<std::size_t> m_live{kOpenBias};
  std::size_t m_carved = 0;  // entries carved so far (creator only)
  std::size_t m_used = 0;    // bytes carved so far (creator only)
  std::size_t m_capacity;
};

// The allocator of one entry: it knows the chunk the entry came from, or none
// when the entry had to come from the heap.
template <typename T>
class arena_allocator {
 public:
  using value_type = T;

  explicit arena_allocator(arena_chunk* chunk) noexcept : m_chunk(chunk) {}
  template <typename U>
  arena_allocator(const arena_allocator<U>& other) noexcept : m_chunk(other.chunk()) {}

  T* allocate(std::size_t n) {
    if (m_chunk != nullptr && n == 1)
      if (void* p = m_chunk->carve(sizeof(T), alignof(T)))
        return static_cast<T*>(p);
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept {
    if (m_chunk != nullptr && m_chunk->holds(p))
      m_chunk->release_one();
    else
      ::operator delete(p);
  }

  arena_chunk* chunk() const noexcept { return m_chunk; }
  template <typename U>
  bool operator==(const arena_allocator<U>& other) const noexcept {
    return m_chunk == other.chunk();
  }
  template <typename U>
  bool operator!=(const arena_allocator<U>& other) const noexcept {
    return m_chunk != other.chunk();
  }

 private:
  arena_chunk* m_chunk;
};

// Destroys an entry carved from a chunk and gives its room back.
template <typename T>
struct arena_deleter {
  arena_chunk* chunk;
  void operator()(T* p) const noexcept {
    p->~T();
    chunk->release_one();
  }
};

// The chunks of one load. Belongs to the loading thread; closes its last
// chunk when it goes.
class entry_arena {
 public:
  entry_arena() noexcept = default;
  entry_arena(const entry_arena&) = delete;
  entry_arena& operator=(const entry_arena&) = delete;
  ~entry_arena() {
    if (m_chunk)
      m_chunk->close();
  }

  // A new shared T. Throws std::bad_alloc.
  //
  // The object and its control block are carved separately and joined by the
  // shared pointer's own constructor: allocate_shared would hand its result
  // through an extra shared copy, two atomic operations per entry that cost
  // more than all the rest of reading it.
  template <typename T, typename... Args>
  boost::shared_ptr<T> make(Args&&... args) {
    if (m_chunk == nullptr || !m_chunk->has_room(kLargestEntry))
      next_chunk();
    void* place = m_chunk->carve(sizeof(T), alignof(T));
    T* object;
    try {
      object = new (place) T(std::forward<Args>(args)...);
    } catch (...) {
      m_chunk->release_one();
      throw;
    }
    // Should the control block fail, the deleter runs.
    return boost::shared_ptr<T>(object, arena_deleter<T>{m_chunk}, arena_allocator<T>(m_chunk));
  }

  // An entry and its control block together take less than this (a control
  // block that did not fit would simply come from the heap).
  static constexpr std::size_t kLargestEntry = 256;
  static constexpr std::size_t kChunkSize = 64 * 1024 - 64;

 private:
  void next_chunk() {
    arena_chunk* fresh = arena_chunk::open(kChunkSize);
    if (m_chunk)
      m_chunk->close();
    m_chunk = fresh;
  }

  arena_chunk* m_chunk = nullptr;
};

}  // namespace serialization
