// Owning buffers for secrets and CryptoAPI data. Every buffer overwrites its
// memory with zeros before it frees it, so plain text never lingers in freed
// heap or task memory.
//
//   _auto_heap_mem<unsigned char> bytes(size);   // zero-filled process-heap bytes
//   _mem_alloc_t<wchar_t, _com_allocator> text(n);  // COM task memory
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include "crypto/portable/secure_wipe.h"
#include "support/hresult.h"

namespace crypto {

// Allocator policies: allocate returns null on failure; free accepts null.
struct _heap_allocator {
  static void* allocate(std::size_t bytes) noexcept {
    return ::HeapAlloc(::GetProcessHeap(), 0, bytes);
  }
  static void free(void* p) noexcept {
    if (p != nullptr)
      ::HeapFree(::GetProcessHeap(), 0, p);
  }
};

struct _com_allocator {
  static void* allocate(std::size_t bytes) noexcept { return ::CoTaskMemAlloc(bytes); }
  static void free(void* p) noexcept { ::CoTaskMemFree(p); }
};

// A zero-filled block for count elements (none for 0); throws E_OUTOFMEMORY.
template <typename T, typename Allocator>
T* allocate_zeroed(std::size_t count) {
  if (count == 0)
    return nullptr;
  if (count > static_cast<std::size_t>(-1) / sizeof(T))
    THROW_HR(E_OUTOFMEMORY);
  void* p = Allocator::allocate(count * sizeof(T));
  if (p == nullptr)
    THROW_HR(E_OUTOFMEMORY);
  std::memset(p, 0, count * sizeof(T));
  return static_cast<T*>(p);
}

// An owning buffer of count elements of a trivially copyable type.
template <typename T, typename Allocator>
class _mem_alloc_t {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  _mem_alloc_t() noexcept = default;
  explicit _mem_alloc_t(std::size_t count) { allocate(count); }
  _mem_alloc_t(const _mem_alloc_t&) = delete;
  _mem_alloc_t& operator=(const _mem_alloc_t&) = delete;
  _mem_alloc_t(_mem_alloc_t&& other) noexcept
      : m_data(std::exchange(other.m_data, nullptr)), m_count(std::exchange(other.m_count, 0)) {}
  _mem_alloc_t& operator=(_mem_alloc_t&& other) noexcept {
    if (this != &other) {
      reset();
      m_data = std::exchange(other.m_data, nullptr);
      m_count = std::exchange(other.m_count, 0);
    }
    return *this;
  }
  virtual ~_mem_alloc_t() { reset(); }

  // Replaces the contents with count zero elements; throws E_OUTOFMEMORY and
  // then leaves the buffer empty.
  void allocate(std::size_t count) {
    reset();
    m_data = allocate_zeroed<T, Allocator>(count);
    m_count = count;
  }
  // Keeps the first count elements and wipes the rest (count <= size()).
  void shrink(std::size_t count) noexcept {
    if (count < m_count) {
      secure_wipe(m_data + count, (m_count - count) * sizeof(T));
      m_count = count;
    }
  }
  // Wipes and frees.
  void reset() noexcept {
    if (m_data != nullptr) {
      secure_wipe(m_data, m_count * sizeof(T));
      Allocator::free(m_data);
    }
    m_data = nullptr;
    m_count = 0;
  }
  // Hands the block to the caller, who frees it with the allocator's free.
  T* release() noexcept {
    m_count = 0;
    return std::exchange(m_data, nullptr);
  }

  T* get() noexcept { return m_data; }
  const T* get() const noexcept { return m_data; }
  std::size_t size() const noexcept { return m_count; }
  bool empty() const noexcept { return m_count == 0; }
  T& operator[](std::size_t i) noexcept { return m_data[i]; }
  const T& operator[](std::size_t i) const noexcept { return m_data[i]; }

 private:
  T* m_data = nullptr;
  std::size_t m_count = 0;
};

template <typename T>
class _auto_heap_mem : public _mem_alloc_t<T, _heap_allocator> {
 public:
  using _mem_alloc_t<T, _heap_allocator>::_mem_alloc_t;
};

}  // namespace crypto
