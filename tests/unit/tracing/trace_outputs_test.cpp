// The trace file (name, header, reopening, failures) and the line outputs.
#include <cwchar>

#include "tracer_test_support.h"

namespace tracertest {
namespace {

using tracecore::realtracer_t;
using strings = std::vector<std::string>;

TEST_F(TracerTest, TraceFileNameIsComposedUnlessFileNameIsGiven) {
  // The plain composed names are those every other test reads.
  realtracer_t tracer(env());
  std::wstring path;
  set_string(L"TracePath", L"  " + m_folder + L"\\ ");
  tracer.tracefilepath(path, true);
  EXPECT_EQ(path, trace_file());

  // Without a folder: the folder of the module's own file.
  set_string(L"TracePath", L"   ");
  wchar_t module[MAX_PATH];
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring module_folder = std::filesystem::path(module).parent_path().wstring();
  tracer.tracefilepath(path, false);
  EXPECT_EQ(path, trace_file(0, module_folder));

  set_string(L"FileName", L"   ");
  tracer.tracefilepath(path, false);
  EXPECT_EQ(path.substr(0, module_folder.size()), module_folder);
  set_string(L"FileName", L"  C:\\logs\\mine.trc  ");
  tracer.tracefilepath(path, true);
  EXPECT_EQ(path, L"C:\\logs\\mine.trc");
}

struct header_case_t {
  bool products;
  std::optional<DWORD> networkSupport;
  const wchar_t* networkSupportText;  // a value of the wrong type
  strings expected;                   // the lines from the product lines on
};

TEST_F(TracerTest, NewFileStartsWithTheHeader) {
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD computer_size = sizeof computer;
  ::GetComputerNameA(computer, &computer_size);
  const std::wstring products = L"SOFTWARE\\Corvantis\\Products";
  const std::wstring policy = L"SOFTWARE\\Policies\\Corvantis";
  const header_case_t cases[] = {
      {true,
       0,
       nullptr,
       {"Product: Alpha; Version: 1.2", "Product: Beta; Version: ERROR(0x2)",
        "installation: LOCAL"}},
      {false, std::nullopt, nullptr, {"No Corvantis products found", "installation: NETWORK"}},
      {false, 1, nullptr, {"No Corvantis products found", "installation: NETWORK"}},
      {false, std::nullopt, L"0", {"No Corvantis products found", "installation: NETWORK"}},
  };
  int index = 0;
  for (const header_case_t& c : cases) {
    SCOPED_TRACE(index);
    ::RegDeleteTreeW(m_root, L"SOFTWARE\\Policies");
    ::RegDeleteTreeW(m_root, products.c_str());
    if (c.products) {
      set_string(L"Version", L"1.2", products + L"\\Alpha");
      ::RegCloseKey(key(products + L"\\Beta"));
    }
    if (c.networkSupport)
      set_dword(L"NetworkSupport", *c.networkSupport, policy);
    if (c.networkSupportText)
      set_string(L"NetworkSupport", c.networkSupportText, policy);
    const std::wstring file = m_folder + L"\\header" + std::to_wstring(index++) + L".trc3";
    set_string(L"FileName", file);
    at(9, 8, 7, 6);
    realtracer_t(env()).text("first record");

    const tracereader::TraceFile decoded = decode(file);
    const strings& lines = decoded.header;
    ASSERT_EQ(lines.size(), 8 + c.expected.size());
    EXPECT_EQ(lines[0], "trace3");
    EXPECT_EQ(lines[1].rfind("Compiled: ", 0), 0u);
    EXPECT_EQ(lines[1].size(), std::string("Compiled: Mar  7 2026 09:08:07").size());
    EXPECT_EQ(lines[2].rfind("OS: ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("ServicePack: ", 0), 0u);
    EXPECT_EQ(lines[4], std::string("Machine name: ") + computer);
    EXPECT_EQ(lines[5], "Trace Ver: 3.0.2");
    EXPECT_EQ(lines[6], "FileVersion: UNKNOWN");  // the test executable has no version resource
    EXPECT_EQ(strings(lines.begin() + 7, lines.end() - 1), c.expected);
    EXPECT_EQ(lines.back(), "03/07/2026 09:08:07.006");

    std::string text;
    for (const std::string& line : lines)
      text += line + "\r\n";
    EXPECT_EQ(file_bytes(file).substr(0, text.size() + 3), text + ".\r\n");
    EXPECT_EQ(summary(decoded.entries, false), (strings{"> main", "U first record"}));
  }
}

TEST_F(TracerTest, ProcessFileIsTruncatedSharedFileAppendedWithAReopenRecord) {
  for (DWORD pid : {::GetCurrentProcessId(), 0ul}) {
    set_dword(L"NewFileAlways", pid != 0);
    at(9, 0, 0, 0, 7);
    realtracer_t(env()).text("first");
    at(10, 0, 0, 0, 8);
    realtracer_t(env()).text("second");
  }
  EXPECT_EQ(records(false), (strings{"> main", "U second"}));
  const std::string bytes = file_bytes(trace_file(0));
  EXPECT_EQ(bytes.find("trace3"), bytes.rfind("trace3"));  // one header only
  EXPECT_EQ(summary(decode(trace_file(0)).entries),
            (strings{"t 03/07/26", "T 09:00:00.000", "> main", "U first", "N 03-08-2026",
                     "t 03/08/26", "T 10:00:00.000", "> main", "U second"}));
}

// A file that can't be opened drops the records, and no tracer of the process
// tries again; fresh process flags do.
TEST_F(TracerTest, FailedOpenDropsRecordsAndIsNotRetried) {
  const std::wstring missing = m_folder + L"\\missing";
  set_string(L"TracePath", missing);
  const std::wstring file = trace_file(::GetCurrentProcessId(), missing);
  {
    realtracer_t tracer(env());
    tracer.text("dropped");
    EXPECT_TRUE(m_flags.file_open_failed);
    std::filesystem::create_directory(missing);
    tracer.enter("f");
    tracer.text("still dropped");
    tracer.leave();
  }
  realtracer_t(env()).text("same process flags");
  EXPECT_FALSE(std::filesystem::exists(file));
  tracecore::process_flags_t fresh;
  realtracer_t(env(fresh)).text("fresh flags");
  EXPECT_EQ(summary(decode(file).entries, false), (strings{"> main", "U fresh flags"}));

  // The shared file while another writer holds it without sharing.
  const std::wstring locked = m_folder + L"\\locked.trc3";
  set_string(L"FileName", locked);
  set_dword(L"NewFileAlways", 0);
  tracecore::process_flags_t other;
  realtracer_t tracer(env(other));
  const HANDLE lock = ::CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  tracer.text("dropped");
  ::CloseHandle(lock);
  tracer.text("not retried");
  EXPECT_TRUE(other.file_open_failed);
  EXPECT_EQ(std::filesystem::file_size(locked), 0u);
}

// Captures what the line output would show and the colours it sets.
class capture_window_t : public tracecore::outputstoragewindow_t {
 public:
  explicit capture_window_t(bool console) {
    if (console)
      m_console = reinterpret_cast<HANDLE>(0x1234);  // never used: colours are captured
  }
  void output(const std::wstring& line) override { events.push_back(line); }
  std::vector<std::wstring> events;

 protected:
  void set_text_attribute(WORD attribute) override {
    events.push_back(L"attribute " + std::to_wstring(attribute));
  }
};

std::wstring line(const std::wstring& rest) {
  wchar_t thread[16];
  std::swprintf(thread, 16, L"0x%x", static_cast<unsigned>(::GetCurrentThreadId()));
  return thread + (L" 10:00:00.100 " + rest + L"\n");
}

std::wstring first_line_of_system_message(DWORD code) {
  wchar_t text[512] = L"";
  ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                   LANG_USER_DEFAULT, text, 512, nullptr);
  std::wstring message(text);
  return message.substr(0, message.find_first_of(L"\r\n"));
}

TEST(TraceLineOutput, MessagesWithTheirColourMarkers) {
  capture_window_t window(true);
  window.write('T', L"10:00:00.100", "CFoo::Bar");
  for (char type : {'>', '<', 't', 'N'})
    window.write(type, L"ignored", "CFoo::Bar");
  window.write('U', L"'`I0A`'ready", "CFoo::Bar");
  window.write('U', L"'`I1F`'ready", "f");
  window.write('D', L"debug", "main");
  EXPECT_EQ(window.events,
            (std::vector<std::wstring>{L"attribute 10", line(L"CFoo::Bar() ready"), L"attribute 7",
                                       line(L"f() '`I1F`'ready"), line(L"main() debug")}));

  capture_window_t no_console(false);
  no_console.write('T', L"10:00:00.100", "f");
  no_console.write('U', L"'`I0A`'ready", "f");
  no_console.write('E', L"0 failed", "f");
  EXPECT_EQ(no_console.events,
            (std::vector<std::wstring>{line(L"f() '`I0A`'ready"), line(L"f() *ERR* failed")}));
}

TEST(TraceLineOutput, ErrorsShowTheSystemMessage) {
  const std::wstring message = first_line_of_system_message(0x80070002);
  ASSERT_FALSE(message.empty());
  capture_window_t window(true);
  window.write('T', L"10:00:00.100", "f");
  std::vector<std::wstring> expected;
  for (const auto& [text, shown] : std::initializer_list<std::pair<const wchar_t*, std::wstring>>{
           {L"-2147024894 CFoo::Open", message + L" CFoo::Open"},
           {L"0 CFoo::Open failed", L"CFoo::Open failed"},
           {L"-559038737 CFoo::Open", L"DEADBEEF"},  // 0xDEADBEEF has no message
           {L"nocode", L"nocode"}}) {
    window.write('E', text, "f");
    expected.insert(expected.end(), {L"attribute 12", line(L"f() *ERR* " + shown), L"attribute 7"});
  }
  EXPECT_EQ(window.events, expected);
}

// OutputDebugStringW raises a debug-print exception, which a vectored handler
// sees first and passes on.
std::vector<std::wstring> g_debug_strings;

LONG CALLBACK catch_debug_string(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (record.NumberParameters < 2)
    return EXCEPTION_CONTINUE_SEARCH;
  if (record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C)
    g_debug_strings.emplace_back(reinterpret_cast<const wchar_t*>(record.ExceptionInformation[1]));
  if (record.ExceptionCode == DBG_PRINTEXCEPTION_C) {
    const std::string text(reinterpret_cast<const char*>(record.ExceptionInformation[1]));
    g_debug_strings.emplace_back(text.begin(), text.end());
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(TraceLineOutput, DebuggerOutputShowsTheLines) {
  g_debug_strings.clear();
  const PVOID handler = ::AddVectoredExceptionHandler(1, catch_debug_string);
  tracecore::outputstorageide_t ide;
  ide.write('T', L"10:00:00.100", "f");
  ide.write('U', L"to the debugger", "f");
  ide.write('>', L"f", "f");
  ide.write('E', L"0 CFoo::Open failed", nullptr);
  ::RemoveVectoredExceptionHandler(handler);
  // Our lines only, each once (a wide and a narrow exception may carry the same line).
  const std::wstring ours = line(L"").substr(0, line(L"").find(L' ') + 1);
  std::erase_if(g_debug_strings, [&](const auto& s) { return s.rfind(ours, 0) != 0; });
  g_debug_strings.erase(std::unique(g_debug_strings.begin(), g_debug_strings.end()),
                        g_debug_strings.end());
  EXPECT_EQ(g_debug_strings, (std::vector<std::wstring>{line(L"f() to the debugger"),
                                                        line(L"() *ERR* CFoo::Open failed")}));
}

}  // namespace
}  // namespace tracertest
