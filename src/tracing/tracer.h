// The tracer: per-thread call stacks with lazily written entry records, time
// stamps, and the choice of output from the "SOFTWARE\Corvantis\Tracing" key.
// Nothing here ever fails its caller: trouble only drops records.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/unique_any.h"
#include "tracing/output_storage.h"
#include "tracing/tracer_environment.h"

namespace tracecore {

class format_t;

// Output kinds: what the tracer writes to.
enum : unsigned {
  kind_nowhere = 1,
  kind_shared_file = 2,
  kind_process_file = 3,
  kind_console = 4,
  kind_debugger = 5,
};

class tracer_t {
 public:
  virtual ~tracer_t();
  virtual void tracefilepath(std::wstring& path, bool newFileAlways) = 0;
  virtual bool dropexpiredtrigger() = 0;
  virtual unsigned outputkind() = 0;

  tracer_t(const tracer_t&) = delete;
  tracer_t& operator=(const tracer_t&) = delete;

  void enter(const char* function) noexcept;
  void leave() noexcept;
  void text(const char* utf8) noexcept;
  void text(const wchar_t* text) noexcept;
  void text(const format_t& format) noexcept;
  void vformat(const char* format, va_list args) noexcept;
  void error(const char* text, long code) noexcept;
  void error(const wchar_t* text, long code) noexcept;
  void lasterror(const char* text) noexcept;
  void lasterror(const wchar_t* text) noexcept;

  unsigned current_kind() const noexcept { return m_kind; }
  bool recording() const noexcept { return m_kind > kind_nowhere; }
  const tracer_environment_t& environment() const noexcept { return m_env; }

 protected:
  explicit tracer_t(const tracer_environment_t& env);

  // Re-reads the configuration at most once per 30 seconds.
  void refresh() noexcept;
  // Whether the "DoTrace" switch was on at the last outputkind().
  virtual bool switchon() const = 0;

  tracer_environment_t m_env;

 private:
  struct frame_t {
    const char* name;
    SYSTEMTIME entered;
    bool printed;
  };

  void write_record(char type, const std::wstring& text) noexcept;
  void emit(char type, const std::wstring& text, const SYSTEMTIME& stamp, const char* function);
  void replace_storage(unsigned kind);
  SYSTEMTIME now() const;

  support::critical_section m_stacksLock;
  std::map<DWORD, std::vector<frame_t>> m_stacks;
  frame_t m_mainFrame;
  DWORD m_constructingThread;
  volatile LONG m_nextCheck = 0;
  volatile unsigned m_kind = kind_nowhere;
  support::unique_handle m_mutex;

  // Beside the tracer: the output and the last time stamps written.
  support::critical_section m_storageLock;
  std::unique_ptr<outputstorageinterface_t> m_storage;
  unsigned m_storageKind = 0;
  SYSTEMTIME m_lastStamp{};
};

class realtracer_t final : public tracer_t {
 public:
  explicit realtracer_t(const tracer_environment_t& env = tracer_environment_t());
  void tracefilepath(std::wstring& path, bool newFileAlways) override;
  bool dropexpiredtrigger() override;
  unsigned outputkind() override;

 protected:
  bool switchon() const override { return m_switchOn; }

 private:
  bool component_traced() const;
  bool m_switchOn = false;
};

// Helpers shared with the header writer and tests.
std::wstring module_long_path(HMODULE module);
std::wstring tracing_key_path();

}  // namespace tracecore
