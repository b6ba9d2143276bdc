// Helpers shared by the store tests: images written out byte by byte, and
// allocator policies that count and inspect what the blocks do.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "store/portable/memory_block.h"
#include "store/portable/storage_named.h"

namespace storetest {

using bytes_t = std::vector<std::uint8_t>;

inline const bytes_t kHeader = {0xA2, 0x49, 0x4D, 0xF3, 0xD9, 0x1E, 0x9F, 0x88, 0x01};

// Byte lists that may mix numbers and characters: {0x01, 'a', 0}.
inline bytes_t image_of(std::initializer_list<int> body, const bytes_t& header = kHeader) {
  bytes_t image = header;
  for (int b : body)
    image.push_back(static_cast<std::uint8_t>(b));
  return image;
}

template <typename Block>
bytes_t bytes_of(const Block& block) {
  std::uint32_t size = 0;
  const std::uint8_t* data = block.data(&size);
  return data ? bytes_t(data, data + size) : bytes_t();
}

inline std::string hex(const bytes_t& bytes) {
  std::string text;
  char cell[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(cell, sizeof cell, "%02X ", b);
    text += cell;
  }
  return text;
}

inline bytes_t save(const serialization::StorageNamed::InMemStorageSpace::CInMemStorage& storage) {
  serialization::CMemoryObjectEx block;
  serialization::StorageNamed::InMemStorageSpace::Save(storage, block);
  return bytes_of(block);
}

// A heap policy that records every allocation and, at free time, whether the
// bytes had been wiped.
struct spy_allocator {
  static inline int allocations = 0;
  static inline int frees = 0;
  static inline int frees_not_wiped = 0;
  static inline std::uint32_t last_size = 0;
  static inline std::map<const std::uint8_t*, std::uint32_t> live;

  static void reset() {
    allocations = frees = frees_not_wiped = 0;
    last_size = 0;
  }
  static std::uint8_t* allocate(std::uint32_t size) {
    ++allocations;
    last_size = size;
    std::uint8_t* data = new std::uint8_t[size];
    live[data] = size;
    return data;
  }
  static void free(std::uint8_t* data) noexcept {
    ++frees;
    const auto it = live.find(data);
    if (it != live.end()) {
      for (std::uint32_t i = 0; i < it->second; ++i)
        if (data[i] != 0) {
          ++frees_not_wiped;
          break;
        }
      live.erase(it);
    }
    delete[] data;
  }
};

using spy_block = serialization::memoryblock_T<spy_allocator>;

}  // namespace storetest
