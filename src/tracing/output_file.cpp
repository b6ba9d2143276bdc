#include <windows.h>

#include <vector>

#include "tracing/output_storage.h"
#include "tracing/portable/trace_record.h"
#include "tracing/portable/trace_texts.h"
#include "tracing/trace_header.h"
#include "tracing/tracer_environment.h"

namespace tracecore {
namespace {

std::string utf8_from_wide(const std::wstring& text) {
  if (text.empty())
    return std::string();
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  if (length <= 0)
    return std::string();
  std::string out(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
  return out;
}

}  // namespace

outputstoragefile_t::outputstoragefile_t(const tracer_environment_t& env,
                                         std::wstring path,
                                         bool newFileAlways)
    : m_env(env), m_path(std::move(path)), m_newFileAlways(newFileAlways) {}

void outputstoragefile_t::open() {
  process_flags_t& flags = m_env.flags ? *m_env.flags : process_flags();
  if (m_file || m_path.empty() || flags.file_open_failed)
    return;
  ::SetLastError(ERROR_SUCCESS);
  m_file.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, m_newFileAlways ? CREATE_ALWAYS : OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!m_file) {
    flags.file_open_failed = true;
    return;
  }
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(m_file.get(), &size) && size.QuadPart == 0) {
    const std::string header = trace_file_header(m_env);
    write_raw(header.data(), static_cast<DWORD>(header.size()));
  } else {
    SYSTEMTIME now{};
    m_env.local_time(&now);
    const std::wstring date = reopen_record_text({now.wYear, now.wMonth, now.wDay});
    write('N', date, nullptr);
  }
}

void outputstoragefile_t::write_raw(const void* bytes, DWORD size) {
  // Moving the pointer and writing are two calls, but cheaper under Wine than one
  // write at the "end of file" offset (all bits set), which it serves through
  // its server.
  LARGE_INTEGER zero{};
  ::SetFilePointerEx(m_file.get(), zero, nullptr, FILE_END);
  DWORD written = 0;
  ::WriteFile(m_file.get(), bytes, size, &written, nullptr);  // write errors are ignored
}

void outputstoragefile_t::write(char type, const std::wstring& text, const char*) {
  open();
  if (!m_file)
    return;
  const std::string payload = utf8_from_wide(text);
  const std::size_t size = encoded_record_size(payload);
  if (payload.size() < kStackRecordPayload) {
    std::uint8_t record[kRecordHeaderSize + kStackRecordPayload];
    encode_record(::GetCurrentThreadId(), type, payload, record);
    write_raw(record, static_cast<DWORD>(size));
  } else {
    std::vector<std::uint8_t> record(size);
    encode_record(::GetCurrentThreadId(), type, payload, record.data());
    write_raw(record.data(), static_cast<DWORD>(size));
  }
}

}  // namespace tracecore
