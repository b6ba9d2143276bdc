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
//
// Chunks whose entries have all gone are kept (up to 1 MB) for the next
// loads: the heap hands large freed areas back to the system, and taking them
// fresh again costs a page fault per 4 KB, more than reading the image.
#pragma once

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace serialization {

class arena_chunk {
 public:
  // Bytes a chunk holds for its entries (the whole chunk is 64 KB).
  static constexpr std::size_t kCapacity = 64 * 1024 - 64;

  // A fresh chunk, held open by its creator. Throws std::bad_alloc.
  static arena_chunk* open();
  // Gives the retired chunks kept for later loads back to the heap.
  static void clear_cache() noexcept;

  // Room for size bytes at that alignment (a power of two), or null when full.
  void* carve(std::size_t size, std::size_t alignment) noexcept {
    const auto base = reinterpret_cast<std::uintptr_t>(bytes());
    const std::uintptr_t at = (base + m_used + alignment - 1) & ~std::uintptr_t(alignment - 1);
    const std::size_t end = static_cast<std::size_t>(at - base) + size;
    if (end > m_capacity)
      return nullptr;
    m_used = end;
    ++m_carved;
    return reinterpret_cast<void*>(at);
  }
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

  arena_chunk() noexcept = default;
  // Hands the chunk back once its last entry has gone.
  void retire() noexcept;
  unsigned char* bytes() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }
  const unsigned char* bytes() const noexcept {
    return reinterpret_cast<const unsigned char*>(this + 1);
  }

  std::atomic<std::size_t> m_live{kOpenBias};
  std::size_t m_carved = 0;  // entries carved so far (creator only)
  std::size_t m_used = 0;    // bytes carved so far (creator only)
  std::size_t m_capacity = kCapacity;
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

// The allocator of the containers inside entries (a section's names, an
// array's elements). A container read from an image takes its first buffer
// from the load's chunk; any later growth comes from the heap. It remembers
// the chunk only while that first buffer lives, so it never looks at a chunk
// that may have gone.
template <typename T>
class entries_allocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using propagate_on_container_copy_assignment = std::false_type;
  using is_always_equal = std::false_type;

  entries_allocator() noexcept = default;
  // For a container about to reserve its buffer in the chunk (on the thread
  // filling it, with room made for the buffer).
  static entries_allocator carving_from(arena_chunk* chunk) noexcept {
    entries_allocator allocator;
    allocator.m_chunk = chunk;
    allocator.m_may_carve = chunk != nullptr;
    return allocator;
  }
  template <typename U>
  entries_allocator(const entries_allocator<U>&) noexcept {}
  entries_allocator select_on_container_copy_construction() const noexcept {
    return entries_allocator();
  }

  T* allocate(std::size_t n) {
    if (m_may_carve) {
      m_may_carve = false;
      if (void* p = m_chunk->carve(n * sizeof(T), alignof(T)))
        return static_cast<T*>(p);
      m_chunk = nullptr;
    }
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept {
    if (m_chunk != nullptr && m_chunk->holds(p)) {
      m_may_carve = false;
      std::exchange(m_chunk, nullptr)->release_one();
      return;
    }
    ::operator delete(p);
  }

  friend bool operator==(const entries_allocator& a, const entries_allocator& b) noexcept {
    return a.m_chunk == b.m_chunk;
  }
  friend bool operator!=(const entries_allocator& a, const entries_allocator& b) noexcept {
    return a.m_chunk != b.m_chunk;
  }

 private:
  arena_chunk* m_chunk = nullptr;  // where the first buffer lives, while it does
  bool m_may_carve = false;
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
    static_assert(sizeof(T) + alignof(T) <= kLargestEntry / 2,
                  "an entry leaves room for its control block");
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

  // The chunk to carve size bytes of payload from, or none when they are
  // better taken from the heap. Throws std::bad_alloc.
  arena_chunk* chunk_for(std::size_t size) {
    if (size > kLargestCarving)
      return nullptr;
    if (m_chunk == nullptr || !m_chunk->has_room(size))
      next_chunk();
    return m_chunk;
  }

  // Larger payloads come from the heap, so that a chunk is not left half empty.
  static constexpr std::size_t kLargestCarving = 4096;
  // An entry and its control block together take less than this (a control
  // block that did not fit would simply come from the heap).
  static constexpr std::size_t kLargestEntry = 256;

 private:
  void next_chunk() {
    arena_chunk* fresh = arena_chunk::open();
    if (m_chunk)
      m_chunk->close();
    m_chunk = fresh;
  }

  arena_chunk* m_chunk = nullptr;
};

// Gives an empty list read from an image room for count elements: in the
// load's current chunk when there is a load, else on the heap.
template <typename List>
void reserve_read_list(List& list, std::size_t count, entry_arena* arena) {
  using element = typename List::value_type;
  if (count == 0)
    return;
  if (arena_chunk* chunk =
          arena ? arena->chunk_for(count * sizeof(element) + alignof(element)) : nullptr)
    list = List(entries_allocator<element>::carving_from(chunk));
  list.reserve(count);
}

}  // namespace serialization
