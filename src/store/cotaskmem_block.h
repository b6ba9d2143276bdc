// Memory blocks in COM task memory: the images handed to and received from the
// protected storage, which frees or allocates them with CoTaskMemFree /
// CoTaskMemAlloc. Like every block, the bytes are wiped before they are freed.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <new>

#include "store/portable/memory_block.h"

namespace serialization {

struct allocator_cotaskmemalloc {
  static std::uint8_t* allocate(std::uint32_t size) {
    void* data = ::CoTaskMemAlloc(size);
    if (data == nullptr)
      throw std::bad_alloc();
    return static_cast<std::uint8_t*>(data);
  }
  static void free(std::uint8_t* data) noexcept { ::CoTaskMemFree(data); }
};

using cotaskmem_block_t = memoryblock_T<allocator_cotaskmemalloc>;

}  // namespace serialization
