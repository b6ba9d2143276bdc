// One protected store of the calling user: its content, the encrypted file that
// keeps it (%APPDATA%\Corvantis\PStore\<store>.dat) and the named mutex that
// serialises every process reading or writing that file. The layout is in
// docs/protected-storage.md.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvops {

// Frees through the heap after overwriting the block with zeros.
template <typename T>
struct wiping_allocator {
  using value_type = T;
  wiping_allocator() noexcept = default;
  template <typename U>
  wiping_allocator(const wiping_allocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    ::SecureZeroMemory(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  template <typename U>
  bool operator==(const wiping_allocator<U>&) const noexcept {
    return true;
  }
};

// Text that may be secret: the heap buffer and the characters kept inside the
// object are overwritten when it goes.
class secret_wstring
    : public std::basic_string<wchar_t, std::char_traits<wchar_t>, wiping_allocator<wchar_t>> {
  using base = std::basic_string<wchar_t, std::char_traits<wchar_t>, wiping_allocator<wchar_t>>;

 public:
  using base::base;
  secret_wstring() noexcept = default;
  secret_wstring(const secret_wstring&) = default;
  secret_wstring(secret_wstring&&) noexcept = default;
  secret_wstring& operator=(const secret_wstring&) = default;
  secret_wstring& operator=(secret_wstring&&) noexcept = default;
  ~secret_wstring() { ::SecureZeroMemory(data(), (capacity() + 1) * sizeof(wchar_t)); }
};

using secret_bytes = std::vector<BYTE, wiping_allocator<BYTE>>;

// A slot of the shared storage.
struct slot_t {
  std::wstring request;  // empty for the calls without "Ex"
  GUID profile{};
  std::wstring template_id;
  secret_bytes image;
};

struct store_content_t {
  DWORD generation = 0;  // commits so far
  secret_wstring text;
  std::map<std::wstring, secret_wstring> references;
  std::vector<slot_t> slots;

  // The slot of that request and profile; request identifiers compare without
  // regard to case.
  std::vector<slot_t>::iterator find_slot(std::wstring_view request, const GUID& profile);
};

// The plaintext of a store file (before encryption) and back. Parsing checks
// every count against the bytes that remain.
secret_bytes serialize(const store_content_t& content);
bool deserialize(const BYTE* bytes, std::size_t size, store_content_t& content);

// The store's named mutex, held while the object lives.
class store_lock {
 public:
  store_lock() noexcept = default;
  store_lock(const store_lock&) = delete;
  store_lock& operator=(const store_lock&) = delete;
  ~store_lock() { release(); }
  // Waits for the mutex; an abandoned mutex counts as taken (the file is never
  // left half-written). ERROR_TIMEOUT when another holder keeps it too long.
  HRESULT acquire(const std::wstring& mutex_name) noexcept;
  void release() noexcept;

 private:
  HANDLE m_mutex = nullptr;
};

class store_file_t {
 public:
  // nullopt for a store name that cannot be a file name.
  static std::optional<store_file_t> open(const std::wstring& store);

  const std::wstring& store() const noexcept { return m_store; }
  const std::wstring& path() const noexcept { return m_path; }
  const std::wstring& mutex_name() const noexcept { return m_mutex_name; }

  // Both with the store's lock held. A missing file reads as an empty store; a
  // file that does not decrypt or parse gives HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT).
  HRESULT read(store_content_t& content) const;
  // Replaces the file atomically: the new content goes to "<file>.new", which
  // then replaces the file in one move.
  HRESULT write(const store_content_t& content) const;

 private:
  std::wstring m_store;
  std::wstring m_path;
  std::wstring m_mutex_name;
};

}  // namespace cvops
