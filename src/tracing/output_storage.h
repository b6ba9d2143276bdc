// Output devices of the tracer. Records reach a device only while the trace
// mutex is held, so the devices take no locks of their own.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "support/unique_any.h"

namespace tracecore {

struct tracer_environment_t;

class outputstorageinterface_t {
 public:
  virtual ~outputstorageinterface_t() = default;
  virtual void write(char type, const std::wstring& text, const char* function) = 0;
};

class outputstoragenowhere_t final : public outputstorageinterface_t {
 public:
  void write(char, const std::wstring&, const char*) override {}
};

// Appends enciphered records to a trace file; opens (and heads) it on first use.
class outputstoragefile_t : public outputstorageinterface_t {
 public:
  outputstoragefile_t(const tracer_environment_t& env, std::wstring path, bool newFileAlways);
  void write(char type, const std::wstring& text, const char* function) override;
  const std::wstring& path() const { return m_path; }

 private:
  void open();
  void write_raw(const void* bytes, DWORD size);

  const tracer_environment_t& m_env;
  support::unique_file m_file;
  std::wstring m_path;
  bool m_newFileAlways;
};

// Base of the line outputs: turns 'U', 'E' and 'D' records into text lines.
class outputstoragewindow_t : public outputstorageinterface_t {
 public:
  void write(char type, const std::wstring& text, const char* function) override;
  virtual void open() {}
  virtual void output(const std::wstring& line) = 0;

 protected:
  virtual void set_text_attribute(WORD attribute);
  // The text shown for an error record: the system's message for its code.
  static std::wstring error_display_text(const std::wstring& text);

  std::wstring m_timeText;
  HANDLE m_console = nullptr;
};

class outputstorageconsole_t final : public outputstoragewindow_t {
 public:
  ~outputstorageconsole_t() override;
  void open() override;
  void output(const std::wstring& line) override;

 private:
  bool m_opened = false;
};

class outputstorageide_t final : public outputstoragewindow_t {
 public:
  void output(const std::wstring& line) override;
};

// Schedules the deletion of every trace file beside path at the next restart,
// once per process and serialised between processes.
void cleanup_old_trace_files(const tracer_environment_t& env,
                             const std::wstring& path,
                             bool dropped);

}  // namespace tracecore
