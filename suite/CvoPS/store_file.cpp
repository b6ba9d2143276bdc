#include "suite/CvoPS/store_file.h"

#include <shlobj.h>
#include <wincrypt.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include "suite/common/standin_paths.h"
#include "support/unique_any.h"

namespace cvops {
namespace {

constexpr BYTE kMagic[4] = {'C', 'V', 'P', 'S'};
constexpr DWORD kVersion = 1;
// Larger files are not read: no store of this kind grows that far.
constexpr std::size_t kMaxFileSize = 64u * 1024 * 1024;
// How long a call waits for another holder of the store (a transaction of
// another process, usually) before it gives up.
constexpr DWORD kLockTimeoutMs = 60 * 1000;
// Tied to every encryption, so that the blob is only good as a store file.
constexpr wchar_t kEntropy[] = L"Corvantis protected storage";
constexpr wchar_t kDescription[] = L"Corvantis protected storage";
// Test aid: when this variable holds a number other than 0, a commit ends the
// process with that exit code after writing the new file and before moving it
// into place, as a crash there would.
constexpr wchar_t kCrashVariable[] = L"CVOPS_STANDIN_CRASH_BEFORE_REPLACE";

const HRESULT kCorrupt = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);

using unique_local_blob = support::unique_any<HLOCAL, decltype(&::LocalFree), ::LocalFree>;

// --- plaintext layout -----------------------------------------------------

class writer_t {
 public:
  void u32(DWORD value) {
    for (int shift = 0; shift < 32; shift += 8)
      m_bytes.push_back(static_cast<BYTE>(value >> shift));
  }
  void raw(const void* data, std::size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    m_bytes.insert(m_bytes.end(), bytes, bytes + size);
  }
  void text(std::wstring_view text) {
    u32(static_cast<DWORD>(text.size()));
    for (const wchar_t unit : text) {
      m_bytes.push_back(static_cast<BYTE>(unit & 0xFF));
      m_bytes.push_back(static_cast<BYTE>((unit >> 8) & 0xFF));
    }
  }
  secret_bytes& bytes() noexcept { return m_bytes; }

 private:
  secret_bytes m_bytes;
};

class reader_t {
 public:
  reader_t(const BYTE* bytes, std::size_t size) noexcept : m_bytes(bytes), m_left(size) {}
  bool u32(DWORD& value) noexcept {
    if (m_left < 4)
      return false;
    value = 0;
    for (int index = 3; index >= 0; --index)
      value = (value << 8) | m_bytes[index];
    advance(4);
    return true;
  }
  bool raw(void* data, std::size_t size) noexcept {
    if (m_left < size)
      return false;
    std::memcpy(data, m_bytes, size);
    advance(size);
    return true;
  }
  template <typename String>
  bool text(String& text) {
    DWORD units = 0;
    if (!u32(units) || m_left / 2 < units)
      return false;
    text.resize(units);
    for (DWORD index = 0; index < units; ++index)
      text[index] = static_cast<wchar_t>(m_bytes[2 * index] | (m_bytes[2 * index + 1] << 8));
    advance(2 * static_cast<std::size_t>(units));
    return true;
  }
  bool bytes(secret_bytes& bytes) {
    DWORD size = 0;
    if (!u32(size) || m_left < size)
      return false;
    bytes.assign(m_bytes, m_bytes + size);
    advance(size);
    return true;
  }
  bool at_end() const noexcept { return m_left == 0; }

 private:
  void advance(std::size_t size) noexcept {
    m_bytes += size;
    m_left -= size;
  }
  const BYTE* m_bytes;
  std::size_t m_left;
};

// --- files ------------------------------------------------------------

std::wstring folder_of(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\'));
}

// FNV-1a over the upper-cased path: one mutex name per store file, whatever
// the case in which the store was named.
std::wstring mutex_name_for(const std::wstring& path) {
  std::wstring upper = path;
  ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const wchar_t unit : upper) {
    hash ^= static_cast<std::uint16_t>(unit);
    hash *= 0x100000001b3ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\CorvantisPStore-%016llX", static_cast<unsigned long long>(hash));
  return name;
}

HRESULT last_error_hr() noexcept {
  const DWORD error = ::GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

void crash_if_asked() noexcept {
  wchar_t value[16] = L"";
  if (::GetEnvironmentVariableW(kCrashVariable, value, 16) == 0)
    return;
  const unsigned long code = std::wcstoul(value, nullptr, 0);
  if (code != 0)
    ::TerminateProcess(::GetCurrentProcess(), code);
}

}  // namespace

std::vector<slot_t>::iterator store_content_t::find_slot(std::wstring_view request,
                                                         const GUID& profile) {
  for (auto it = slots.begin(); it != slots.end(); ++it) {
    if (::IsEqualGUID(it->profile, profile) &&
        standin::same_name(it->request, std::wstring(request)))
      return it;
  }
  return slots.end();
}

secret_bytes serialize(const store_content_t& content) {
  writer_t out;
  out.raw(kMagic, sizeof kMagic);
  out.u32(kVersion);
  out.u32(content.generation);
  out.text(content.text);
  out.u32(static_cast<DWORD>(content.references.size()));
  for (const auto& [name, value] : content.references) {
    out.text(name);
    out.text(value);
  }
  out.u32(static_cast<DWORD>(content.slots.size()));
  for (const slot_t& slot : content.slots) {
    out.text(slot.request);
    out.raw(&slot.profile, sizeof slot.profile);
    out.text(slot.template_id);
    out.u32(static_cast<DWORD>(slot.image.size()));
    out.raw(slot.image.data(), slot.image.size());
  }
  return std::move(out.bytes());
}

bool deserialize(const BYTE* bytes, std::size_t size, store_content_t& content) {
  reader_t in(bytes, size);
  BYTE magic[4];
  DWORD version = 0;
  if (!in.raw(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof magic) != 0 ||
      !in.u32(version) || version != kVersion)
    return false;
  store_content_t read;
  DWORD count = 0;
  if (!in.u32(read.generation) || !in.text(read.text) || !in.u32(count))
    return false;
  for (DWORD index = 0; index < count; ++index) {
    std::wstring name;
    secret_wstring value;
    if (!in.text(name) || !in.text(value))
      return false;
    read.references[name] = std::move(value);
  }
  if (!in.u32(count))
    return false;
  for (DWORD index = 0; index < count; ++index) {
    slot_t slot;
    if (!in.text(slot.request) || !in.raw(&slot.profile, sizeof slot.profile) ||
        !in.text(slot.template_id) || !in.bytes(slot.image))
      return false;
    read.slots.push_back(std::move(slot));
  }
  if (!in.at_end())
    return false;
  content = std::move(read);
  return true;
}

HRESULT store_lock::acquire(const std::wstring& mutex_name) noexcept {
  release();
  m_mutex = ::CreateMutexW(nullptr, FALSE, mutex_name.c_str());
  if (m_mutex == nullptr)
    return last_error_hr();
  const DWORD wait = ::WaitForSingleObject(m_mutex, kLockTimeoutMs);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
    return S_OK;
  const HRESULT hr = wait == WAIT_TIMEOUT ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : last_error_hr();
  ::CloseHandle(std::exchange(m_mutex, nullptr));
  return hr;
}

void store_lock::release() noexcept {
  if (m_mutex == nullptr)
    return;
  ::ReleaseMutex(m_mutex);
  ::CloseHandle(std::exchange(m_mutex, nullptr));
}

std::optional<store_file_t> store_file_t::open(const std::wstring& store) {
  auto path = standin::protected_store_file(store);
  if (!path)
    return std::nullopt;
  store_file_t file;
  file.m_store = store;
  file.m_path = std::move(*path);
  file.m_mutex_name = mutex_name_for(file.m_path);
  return file;
}

HRESULT store_file_t::read(store_content_t& content) const {
  const support::unique_file file(::CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      content = store_content_t();
      return S_OK;
    }
    return HRESULT_FROM_WIN32(error);
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size))
    return last_error_hr();
  if (size.QuadPart <= 0 || static_cast<unsigned long long>(size.QuadPart) > kMaxFileSize)
    return kCorrupt;
  std::vector<BYTE> sealed(static_cast<std::size_t>(size.QuadPart));
  DWORD done = 0;
  if (!::ReadFile(file.get(), sealed.data(), static_cast<DWORD>(sealed.size()), &done, nullptr))
    return last_error_hr();
  if (done != sealed.size())
    return kCorrupt;

  DATA_BLOB in{static_cast<DWORD>(sealed.size()), sealed.data()};
  DATA_BLOB entropy{sizeof kEntropy, reinterpret_cast<BYTE*>(const_cast<wchar_t*>(kEntropy))};
  DATA_BLOB out{};
  if (!::CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out))
    return kCorrupt;
  const unique_local_blob owner(out.pbData);
  const bool parsed = deserialize(out.pbData, out.cbData, content);
  ::SecureZeroMemory(out.pbData, out.cbData);
  return parsed ? S_OK : kCorrupt;
}

HRESULT store_file_t::write(const store_content_t& content) const {
  secret_bytes plain = serialize(content);
  DATA_BLOB in{static_cast<DWORD>(plain.size()), plain.data()};
  DATA_BLOB entropy{sizeof kEntropy, reinterpret_cast<BYTE*>(const_cast<wchar_t*>(kEntropy))};
  DATA_BLOB out{};
  if (!::CryptProtectData(&in, kDescription, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out))
    return last_error_hr();
  const unique_local_blob owner(out.pbData);

  const int created = ::SHCreateDirectoryExW(nullptr, folder_of(m_path).c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS)
    return HRESULT_FROM_WIN32(static_cast<DWORD>(created));

  const std::wstring staging = m_path + L".new";
  {
    const support::unique_file file(::CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return last_error_hr();
    DWORD done = 0;
    if (!::WriteFile(file.get(), out.pbData, out.cbData, &done, nullptr) || done != out.cbData ||
        !::FlushFileBuffers(file.get())) {
      const HRESULT hr = last_error_hr();
      ::DeleteFileW(staging.c_str());
      return hr;
    }
  }
  crash_if_asked();
  if (!::MoveFileExW(staging.c_str(), m_path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const HRESULT hr = last_error_hr();
    ::DeleteFileW(staging.c_str());
    return hr;
  }
  return S_OK;
}

}  // namespace cvops
