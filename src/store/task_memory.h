// Task-memory blocks that the suite's libraries hand back (CoTaskMemAlloc):
// their size as the allocator knows it, their wiping, and reading a string out
// of one without passing its end.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <optional>

#include "support/hresult.h"

namespace pstore {

// The size of a task-memory block as the task allocator reports it.
std::optional<std::size_t> block_size(const void* block) noexcept;

// Overwrites a task-memory block with zeros over its whole size as the task
// allocator reports it (`known_size` bytes when the allocator cannot tell),
// then frees it. Null is ignored.
void wipe_and_free(void* block, std::size_t known_size) noexcept;

// One task-memory output of a library call. It is freed when it goes; when it
// may hold a secret it is wiped first, also when copying it out failed.
template <typename T>
class task_output {
 public:
  explicit task_output(bool secret) noexcept : m_secret(secret) {}
  task_output(const task_output&) = delete;
  task_output& operator=(const task_output&) = delete;
  ~task_output() {
    if (m_secret)
      wipe_and_free(m_block, m_known_size);
    else
      ::CoTaskMemFree(m_block);
  }
  T** put() noexcept { return &m_block; }
  T* get() const noexcept { return m_block; }
  // What the library said it returned, in bytes.
  void set_known_size(std::size_t bytes) noexcept { m_known_size = bytes; }
  // Raises E_UNEXPECTED when the block cannot hold `bytes` (a count the block
  // cannot hold is never read past the block's end).
  void check_holds(std::size_t bytes) const {
    const auto capacity = block_size(m_block);
    if (bytes != 0 && (m_block == nullptr || (capacity && *capacity < bytes)))
      THROW_HR(E_UNEXPECTED);
  }

 private:
  T* m_block = nullptr;
  std::size_t m_known_size = 0;
  bool m_secret;
};

// The characters of a returned string up to its terminator, never past the end
// of its block; empty for no block.
template <typename String>
String take_string(task_output<wchar_t>& text) {
  const wchar_t* chars = text.get();
  if (chars == nullptr)
    return String();
  const auto bytes = block_size(chars);
  const std::size_t limit = bytes ? *bytes / sizeof(wchar_t) : static_cast<std::size_t>(-1);
  std::size_t length = 0;
  while (length < limit && chars[length] != L'\0')
    ++length;
  text.set_known_size((length + 1) * sizeof(wchar_t));
  return String(chars, length);
}

}  // namespace pstore
