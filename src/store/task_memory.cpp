#include "store/task_memory.h"

#include "store/portable/secure_memory.h"

namespace pstore {

std::optional<std::size_t> block_size(const void* block) noexcept {
  IMalloc* allocator = nullptr;
  if (block == nullptr || FAILED(::CoGetMalloc(1, &allocator)) || allocator == nullptr)
    return std::nullopt;
  const SIZE_T size = allocator->GetSize(const_cast<void*>(block));
  allocator->Release();
  if (size == static_cast<SIZE_T>(-1))
    return std::nullopt;
  return size;
}

void wipe_and_free(void* block, std::size_t known_size) noexcept {
  if (block == nullptr)
    return;
  // The whole block as allocated; what the library said it returned when the
  // allocator cannot tell.
  const std::size_t size = block_size(block).value_or(known_size);
  serialization::secure_wipe(block, size);
  ::CoTaskMemFree(block);
}

}  // namespace pstore
