// Owned or borrowed byte buffers in which images and values are held.
//
// memoryblock_T<Allocator> keeps a pointer and a 32-bit size; the allocator
// policy decides where the bytes come from:
//   aloocator_cpp              ordinary heap (new[] / delete[])
//   allocator_cotaskmemalloc   COM task memory, for images handed to or received
//                              from the protected storage (store/cotaskmem_block.h,
//                              Windows only)
// A policy is a type with two static functions:
//   static std::uint8_t* allocate(std::uint32_t size);   // throws std::bad_alloc
//   static void free(std::uint8_t* data) noexcept;
// Every owned buffer is wiped before it goes back to its allocator: values may
// be passwords.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "store/portable/copy_bytes.h"
#include "store/portable/entry_arena.h"
#include "store/portable/secure_memory.h"

namespace serialization {

struct aloocator_cpp {
  static std::uint8_t* allocate(std::uint32_t size) { return new std::uint8_t[size]; }
  static void free(std::uint8_t* data) noexcept { delete[] data; }
};

template <typename Allocator>
class memoryblock_T {
 public:
  using allocator_type = Allocator;

  memoryblock_T() noexcept = default;
  memoryblock_T(const void* bytes, std::uint32_t size) { set(bytes, size); }
  memoryblock_T(const memoryblock_T& other) { set(other.m_data, other.m_size); }
  memoryblock_T(memoryblock_T&& other) noexcept
      : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}
  memoryblock_T& operator=(const memoryblock_T& other) {
    assign(other);
    return *this;
  }
  memoryblock_T& operator=(memoryblock_T&& other) noexcept {
    if (this != &other) {
      release();
      m_data = std::exchange(other.m_data, nullptr);
      m_size = std::exchange(other.m_size, 0);
    }
    return *this;
  }

  virtual ~memoryblock_T() { memoryblock_T::release(); }

  // The bytes (null when empty) and, when asked, their number.
  virtual const std::uint8_t* data(std::uint32_t* size = nullptr) const noexcept {
    if (size)
      *size = m_size;
    return m_data;
  }
  virtual std::uint8_t* data(std::uint32_t* size = nullptr) noexcept {
    if (size)
      *size = m_size;
    return m_data;
  }

  // Becomes a copy of the other block's bytes.
  virtual void assign(const memoryblock_T& other) { set(other.m_data, other.m_size); }

  // Becomes a copy of the bytes. A buffer of the same size is reused; otherwise
  // exactly size bytes are allocated. Null or zero releases the block. The new
  // buffer is filled before the old one goes, so the source may lie inside it.
  virtual void set(const void* bytes, std::uint32_t size) {
    if (bytes == nullptr || size == 0) {
      release();
      return;
    }
    if (size == m_size) {
      std::memmove(m_data, bytes, size);
      return;
    }
    std::uint8_t* fresh = Allocator::allocate(size);
    std::memcpy(fresh, bytes, size);
    release();
    m_data = fresh;
    m_size = size;
  }

  // Releases the block, then allocates size bytes (uninitialised) and returns them.
  virtual std::uint8_t* allocate(std::uint32_t size) {
    release();
    if (size == 0)
      return nullptr;
    m_data = Allocator::allocate(size);
    m_size = size;
    return m_data;
  }

  // Wipes and frees the bytes; data and size become 0.
  virtual void release() noexcept {
    if (m_data) {
      secure_wipe(m_data, m_size);
      Allocator::free(m_data);
    }
    m_data = nullptr;
    m_size = 0;
  }

  std::uint32_t size() const noexcept { return m_size; }
  bool empty() const noexcept { return m_size == 0; }

  // Takes over a buffer that came from Allocator (for example task memory a
  // component returned); it is wiped and freed with the block.
  void attach(std::uint8_t* data, std::uint32_t size) noexcept {
    release();
    if (data != nullptr && size != 0) {
      m_data = data;
      m_size = size;
    } else if (data != nullptr) {
      Allocator::free(data);
    }
  }
  // Hands the buffer over (for example to a component that frees task memory
  // itself); the block becomes empty.
  std::uint8_t* detach() noexcept {
    m_size = 0;
    return std::exchange(m_data, nullptr);
  }

  friend bool operator==(const memoryblock_T& a, const memoryblock_T& b) noexcept {
    return a.m_size == b.m_size &&
           (a.m_size == 0 || std::memcmp(a.m_data, b.m_data, a.m_size) == 0);
  }

 protected:
  std::uint8_t* m_data = nullptr;
  std::uint32_t m_size = 0;
};

// A view of bytes owned elsewhere (a record's integer, a string's characters),
// presented as a block without copying. It never owns: release forgets the
// pointer, the destructor frees nothing, and setting it points it at the given
// bytes instead of copying them.
class fake_memblock_t : public memoryblock_T<aloocator_cpp> {
 public:
  fake_memblock_t() noexcept = default;
  fake_memblock_t(const void* bytes, std::uint32_t size) noexcept { point_at(bytes, size); }
  fake_memblock_t(const fake_memblock_t& other) noexcept : memoryblock_T() {
    point_at(other.m_data, other.m_size);
  }
  fake_memblock_t& operator=(const fake_memblock_t& other) noexcept {
    point_at(other.m_data, other.m_size);
    return *this;
  }
  ~fake_memblock_t() override { fake_memblock_t::release(); }

  void assign(const memoryblock_T& other) override { point_at(other.data(), other.size()); }
  void set(const void* bytes, std::uint32_t size) override { point_at(bytes, size); }
  // A view has nothing of its own to allocate into.
  std::uint8_t* allocate(std::uint32_t) override {
    throw std::logic_error("fake_memblock_t cannot allocate");
  }
  void release() noexcept override {
    m_data = nullptr;
    m_size = 0;
  }
  // A view never takes ownership nor hands it over.
  void attach(std::uint8_t*, std::uint32_t) = delete;
  std::uint8_t* detach() = delete;

 private:
  void point_at(const void* bytes, std::uint32_t size) noexcept {
    if (bytes == nullptr || size == 0) {
      release();
      return;
    }
    // The view is only ever read through; the cast keeps one block type.
    m_data = static_cast<std::uint8_t*>(const_cast<void*>(bytes));
    m_size = size;
  }
};

// The payload of a value in the named storage.
//
// Its bytes live in one of three places:
//   inline  payloads of up to kInlineCapacity bytes (integers, short names and
//           dates: most values of a profile) live inside the object itself,
//           so such a value costs no allocation of its own;
//   carved  a value read from an image keeps its bytes in the chunk its entry
//           was carved from (entry_arena.h) and gives them back to it;
//   heap    anything else is allocated exactly as in any block.
// Whatever the place, the bytes are wiped when they are given up.
//
// Use the block through this type when moving or detaching it: the base's
// non-virtual move and detach know nothing of the inline or carved bytes.
class CMemoryObjectEx : public memoryblock_T<aloocator_cpp> {
 public:
  static constexpr std::uint32_t kInlineCapacity = 20;

  CMemoryObjectEx() noexcept = default;
  CMemoryObjectEx(const void* bytes, std::uint32_t size) { CMemoryObjectEx::set(bytes, size); }
  explicit CMemoryObjectEx(const memoryblock_T& other) {
    CMemoryObjectEx::set(other.data(), other.size());
  }
  CMemoryObjectEx(const CMemoryObjectEx& other) : memoryblock_T() {
    CMemoryObjectEx::set(other.m_data, other.m_size);
  }
  CMemoryObjectEx(CMemoryObjectEx&& other) noexcept { take(other); }
  CMemoryObjectEx& operator=(const CMemoryObjectEx& other) {
    set(other.m_data, other.m_size);
    return *this;
  }
  CMemoryObjectEx& operator=(CMemoryObjectEx&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~CMemoryObjectEx() override { CMemoryObjectEx::release(); }

  void assign(const memoryblock_T& other) override { set(other.data(), other.size()); }

  void set(const void* bytes, std::uint32_t size) override {
    if (bytes == nullptr || size == 0) {
      release();
      return;
    }
    if (size == m_size) {
      std::memmove(m_data, bytes, size);
      return;
    }
    if (size <= kInlineCapacity) {
      if (m_data == nullptr) {
        copy_bytes(m_inline, static_cast<const std::uint8_t*>(bytes), size);
        m_data = m_inline;
        m_size = size;
        return;
      }
      if (is_inline()) {
        // The source may lie in the inline buffer itself.
        std::memmove(m_inline, bytes, size);
        if (size < m_size)
          secure_wipe(m_inline + size, m_size - size);
        m_size = size;
        return;
      }
      // Copied before the old bytes (where the source may lie) go.
      std::uint8_t copy[kInlineCapacity];
      std::memcpy(copy, bytes, size);
      release();
      std::memcpy(m_inline, copy, size);
      secure_wipe(copy, size);
      m_data = m_inline;
      m_size = size;
      return;
    }
    std::uint8_t* fresh = aloocator_cpp::allocate(size);
    std::memcpy(fresh, bytes, size);
    release();
    m_data = fresh;
    m_size = size;
  }

  std::uint8_t* allocate(std::uint32_t size) override {
    release();
    if (size == 0)
      return nullptr;
    m_data = size <= kInlineCapacity ? m_inline : aloocator_cpp::allocate(size);
    m_size = size;
    return m_data;
  }

  void release() noexcept override {
    if (is_inline()) {
      secure_wipe(m_inline, m_size);
    } else if (m_chunk != nullptr) {
      secure_wipe(m_data, m_size);
      std::exchange(m_chunk, nullptr)->release_one();
    } else {
      memoryblock_T::release();
      return;
    }
    m_data = nullptr;
    m_size = 0;
  }

  // Becomes a copy of the bytes, carved from the chunk of an image being read
  // when they do not fit inline (the chunk counts them as one of its entries).
  // Only the thread filling the chunk may call this. Throws std::bad_alloc.
  void set_carved(const std::uint8_t* bytes, std::uint32_t size, arena_chunk* chunk) {
    if (size <= kInlineCapacity || chunk == nullptr) {
      set(bytes, size);
      return;
    }
    void* place = chunk->carve(size, 1);
    if (place == nullptr) {
      set(bytes, size);
      return;
    }
    release();
    copy_bytes(static_cast<std::uint8_t*>(place), bytes, size);
    m_data = static_cast<std::uint8_t*>(place);
    m_size = size;
    m_chunk = chunk;
  }

  // Hands the bytes over as a heap buffer the receiver frees with delete[]
  // (inline or carved bytes are copied out first); the block becomes empty.
  std::uint8_t* detach() {
    if (m_data == nullptr || (!is_inline() && m_chunk == nullptr))
      return memoryblock_T::detach();
    std::uint8_t* heap = aloocator_cpp::allocate(m_size);
    std::memcpy(heap, m_data, m_size);
    release();
    return heap;
  }

  bool is_inline() const noexcept { return m_data == m_inline; }
  bool is_carved() const noexcept { return m_chunk != nullptr; }

 private:
  void take(CMemoryObjectEx& other) noexcept {
    if (other.is_inline()) {
      std::memcpy(m_inline, other.m_inline, other.m_size);
      m_data = m_inline;
      m_size = other.m_size;
      other.release();
      return;
    }
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
    m_chunk = std::exchange(other.m_chunk, nullptr);
  }

  std::uint8_t m_inline[kInlineCapacity];
  arena_chunk* m_chunk = nullptr;  // where carved bytes came from
};

}  // namespace serialization
