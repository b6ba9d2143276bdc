// Runs the console host program against the test plug-in (and against plug-in
// keys in the machine's registry) and checks its result lines, messages and
// exit codes.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "plugin/CVOnlineIDsLib.h"
#include "support/registry.h"
#include "support/unique_any.h"

namespace {

constexpr wchar_t kPluginsKey[] = L"SOFTWARE\\Corvantis\\CVHC\\Plugins";
constexpr wchar_t kComponentClass[] = L"{DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}";
// The fake plug-in's backup image.
const std::vector<char> kBackupBytes = {'\x0A', '\x1A', '\xFF'};

std::string narrow(const std::wstring& text) {
  std::string result;
  for (wchar_t c : text)
    result.push_back(static_cast<char>(c));  // the tests use ASCII paths only
  return result;
}

// The folder of this program, where the host and the fake plug-in are built too.
std::wstring program_folder() {
  wchar_t path[MAX_PATH];
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring scratch_folder() {
  static const std::wstring folder = [] {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    std::wstring path =
        std::wstring(base) + L"cvhost_tests" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    ::CreateDirectoryW(path.c_str(), nullptr);
    return path;
  }();
  return folder;
}

std::vector<char> read_bytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::wstring& path, const std::vector<char>& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// An environment variable of this process (and so of the host it starts) for
// the length of a scope.
class scoped_environment {
 public:
  scoped_environment(const wchar_t* name, const std::wstring& value) : m_name(name) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~scoped_environment() { ::SetEnvironmentVariableW(m_name, nullptr); }
  scoped_environment(const scoped_environment&) = delete;
  scoped_environment& operator=(const scoped_environment&) = delete;

 private:
  const wchar_t* m_name;
};

struct host_run_t {
  DWORD exit_code = 0xFFFFFFFF;
  std::string out;
  std::string err;

  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    size_t start = 0;
    while (start < out.size()) {
      size_t end = out.find('\n', start);
      if (end == std::string::npos)
        end = out.size();
      std::string line = out.substr(start, end - start);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      result.push_back(line);
      start = end + 1;
    }
    return result;
  }
  // The lines that begin with prefix, in order.
  std::vector<std::string> lines_with(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const std::string& line : lines()) {
      if (line.compare(0, prefix.size(), prefix) == 0)
        result.push_back(line);
    }
    return result;
  }
  bool has_line(const std::string& expected) const {
    for (const std::string& line : lines()) {
      if (line == expected)
        return true;
    }
    return false;
  }
};

std::ostream& operator<<(std::ostream& out, const host_run_t& run) {
  return out << "exit " << run.exit_code << "\n--- stdout\n"
             << run.out << "--- stderr\n"
             << run.err;
}

// Runs "cvhost ARGUMENTS" and collects its exit code and both outputs.
host_run_t run_host(const std::wstring& arguments) {
  static int counter = 0;
  const std::wstring base = scratch_folder() + L"run" + std::to_wstring(++counter);
  const std::wstring out_path = base + L".out";
  const std::wstring err_path = base + L".err";
  host_run_t run;
  {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const support::unique_file out(::CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                 &inherit, CREATE_ALWAYS, 0, nullptr));
    const support::unique_file err(::CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                 &inherit, CREATE_ALWAYS, 0, nullptr));
    if (!out || !err) {
      ADD_FAILURE() << "cannot create the output files in " << narrow(scratch_folder());
      return run;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    std::wstring command = L"\"" + program_folder() + L"cvhost.exe\" " + arguments;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          program_folder().c_str(), &startup, &process)) {
      ADD_FAILURE() << "cannot start cvhost.exe: error " << ::GetLastError();
      return run;
    }
    const support::unique_handle process_handle(process.hProcess);
    const support::unique_handle thread_handle(process.hThread);
    // A guard against a hung host only; no test depends on how long a run takes.
    if (::WaitForSingleObject(process.hProcess, 5 * 60 * 1000) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.hProcess, 0xDEAD);
      ::WaitForSingleObject(process.hProcess, INFINITE);
      ADD_FAILURE() << "cvhost.exe did not end: " << narrow(arguments);
    }
    ::GetExitCodeProcess(process.hProcess, &run.exit_code);
  }
  const std::vector<char> out = read_bytes(out_path);
  const std::vector<char> err = read_bytes(err_path);
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  ::DeleteFileW(out_path.c_str());
  ::DeleteFileW(err_path.c_str());
  return run;
}

// The host with the test plug-in loaded directly.
host_run_t run_fake(const std::wstring& arguments) {
  return run_host(L"--plugin fakeplugin.dll " + arguments);
}

// ---------------------------------------------------------------------------
// Command line

TEST(CvHostCommandLine, MistakesPrintTheUsageAndExitWith1) {
  const wchar_t* const mistakes[] = {
      L"",                                      // no verb
      L"frobnicate",                            // unknown verb
      L"--bogus status",                        // unknown option
      L"status pages",                          // two verbs
      L"info",                                  // missing ID
      L"info 12x",                              // ID not a number
      L"property 99999999999",                  // ID out of range
      L"backup",                                // missing file
      L"--element",                             // option without its value
      L"--kind A --no-kind pages",              // contradicting options
      L"--first-view 1 --no-first-view pages",  // contradicting options
      L"--first-view-int x pages",              // not a number
      L"--refuse-page two pages",               // not a number
      L"pages --close-after 10",                // option of another verb
      L"show --screenshot Z:\\x.bmp",           // picture without closing
      L"show --close-after -5",                 // negative time
  };
  for (const wchar_t* arguments : mistakes) {
    SCOPED_TRACE(narrow(arguments));
    const host_run_t run = run_fake(arguments);
    EXPECT_EQ(run.exit_code, 1u) << run;
    EXPECT_NE(run.err.find("usage: cvhost"), std::string::npos) << run;
    EXPECT_EQ(run.out, "") << run;
  }
}

TEST(CvHostCommandLine, HelpPrintsTheUsageOnStdout) {
  const host_run_t run = run_host(L"--help");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_NE(run.out.find("usage: cvhost"), std::string::npos) << run;
  EXPECT_NE(run.out.find("--refuse-page"), std::string::npos) << run;
}

// ---------------------------------------------------------------------------
// Verbs against the test plug-in

TEST(CvHostVerbs, StatusAndDisableState) {
  host_run_t run = run_fake(L"status");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_EQ(run.lines(),
            std::vector<std::string>{"status: hr=0x00000000 value=2 text=Fake status"});

  run = run_fake(L"disable-status");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_EQ(run.lines(), std::vector<std::string>{"disable-status: hr=0x00000000 value=2"});
}

TEST(CvHostVerbs, DisableAndEnablePassTheirArgument) {
  // The test plug-in answers S_OK to 1 and S_FALSE to 0.
  host_run_t run = run_fake(L"disable");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_EQ(run.lines(), std::vector<std::string>{"disable: hr=0x00000000"});

  run = run_fake(L"enable");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_EQ(run.lines(), std::vector<std::string>{"enable: hr=0x00000001"});
}

TEST(CvHostVerbs, InfoAndPropertyPrintTypeAndText) {
  host_run_t run = run_fake(L"info 0");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.has_line("info 0: hr=0x00000000 vt=8 value=" + narrow(kComponentClass))) << run;

  run = run_fake(L"property 1");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.has_line("property 1: hr=0x00000000 vt=8 value=Fake plug-in")) << run;

  // A value that is not a string: its type only.
  run = run_fake(L"property 9");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.has_line("property 9: hr=0x00000000 vt=3 value=")) << run;
}

TEST(CvHostVerbs, FailedCallsPrintTheLineThenExplainAndExitWith6) {
  host_run_t run = run_fake(L"info -1");
  EXPECT_EQ(run.exit_code, 6u) << run;
  EXPECT_TRUE(run.has_line("info -1: hr=0x80070648 vt=0 value=")) << run;
  EXPECT_NE(run.err.find("info failed: 0x80070648 "), std::string::npos) << run;

  run = run_fake(L"property 5");
  EXPECT_EQ(run.exit_code, 6u) << run;
  EXPECT_TRUE(run.has_line("property 5: hr=0x80070648 vt=0 value=")) << run;

  // Outputs that came with a failure are still shown.
  const scoped_environment fail(L"FAKEPLUGIN_HRESULT", L"0x80004001");
  run = run_fake(L"status");
  EXPECT_EQ(run.exit_code, 6u) << run;
  EXPECT_TRUE(run.has_line("status: hr=0x80004001 value=2 text=Fake status")) << run;
  EXPECT_NE(run.err.find("status failed: 0x80004001 "), std::string::npos) << run;
  EXPECT_EQ(run.err.find("unknown error"), std::string::npos) << "no system text: " << run;

  for (const wchar_t* verb : {L"disable-status", L"disable", L"enable"}) {
    run = run_fake(verb);
    EXPECT_EQ(run.exit_code, 6u) << run;
    EXPECT_TRUE(run.has_line(narrow(verb) + ": hr=0x80004001" +
                             (verb == std::wstring(L"disable-status") ? " value=2" : "")))
        << run;
  }
}

// ---------------------------------------------------------------------------
// Backup and restore

class CvHostStorage : public ::testing::Test {
 protected:
  void TearDown() override { ::DeleteFileW(m_file.c_str()); }
  const std::wstring m_file = scratch_folder() + L"backup.bin";
};

TEST_F(CvHostStorage, BackupWritesTheBytesAndListsTheNames) {
  const host_run_t run = run_fake(L"backup \"" + m_file + L"\"");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_EQ(run.lines(),
            std::vector<std::string>{
                "backup: hr=0x00000000 names=KVX Protected Storage,Fake Second bytes=3"});
  EXPECT_EQ(read_bytes(m_file), kBackupBytes);
}

TEST_F(CvHostStorage, BackupOfNothingLeavesAnEmptyFile) {
  write_bytes(m_file, {'o', 'l', 'd'});
  const scoped_environment nothing(L"FAKEPLUGIN_NO_STORAGE", L"1");
  const host_run_t run = run_fake(L"backup \"" + m_file + L"\"");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.has_line("backup: hr=0x00000000 names=(empty) bytes=0")) << run;
  EXPECT_TRUE(file_exists(m_file));
  EXPECT_TRUE(read_bytes(m_file).empty());
}

TEST_F(CvHostStorage, FailedBackupKeepsTheOldFile) {
  write_bytes(m_file, {'o', 'l', 'd'});
  const scoped_environment fail(L"FAKEPLUGIN_HRESULT", L"0x80004005");
  const host_run_t run = run_fake(L"backup \"" + m_file + L"\"");
  EXPECT_EQ(run.exit_code, 6u) << run;
  EXPECT_EQ(run.lines_with("backup: hr=0x80004005 ").size(), 1u) << run;
  EXPECT_EQ(read_bytes(m_file), (std::vector<char>{'o', 'l', 'd'}));
}

TEST_F(CvHostStorage, BackupToAnUnwritablePlaceExitsWith7) {
  const host_run_t run = run_fake(L"backup \"" + scratch_folder() + L"no\\such\\folder.bin\"");
  EXPECT_EQ(run.exit_code, 7u) << run;
  EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run;
}

TEST_F(CvHostStorage, RestoreHandsTheFileBytesOver) {
  // The test plug-in accepts exactly its own image.
  write_bytes(m_file, kBackupBytes);
  host_run_t run = run_fake(L"restore \"" + m_file + L"\"");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_EQ(run.lines(), std::vector<std::string>{"restore: hr=0x00000000"});

  write_bytes(m_file, {'\x0A', '\x1A'});
  run = run_fake(L"restore \"" + m_file + L"\"");
  EXPECT_EQ(run.exit_code, 6u) << run;
  EXPECT_TRUE(run.has_line("restore: hr=0x8000FFFF")) << run;
  EXPECT_NE(run.err.find("restore failed: 0x8000FFFF"), std::string::npos) << run;

  write_bytes(m_file, {});
  run = run_fake(L"restore \"" + m_file + L"\"");
  EXPECT_TRUE(run.has_line("restore: hr=0x8000FFFF")) << run;
}

TEST_F(CvHostStorage, RestoreOfAMissingFileExitsWith7BeforeCallingThePlugin) {
  const host_run_t run = run_fake(L"restore \"" + m_file + L"\"");
  EXPECT_EQ(run.exit_code, 7u) << run;
  EXPECT_TRUE(run.lines_with("restore:").empty()) << run;
  EXPECT_NE(run.err.find("cannot read"), std::string::npos) << run;
}

// ---------------------------------------------------------------------------
// Pages and the page site

// 44 in the 32-bit build; the 64-bit twin's descriptor has wider handle fields.
const std::string kDescriptorSize =
    "size=" + std::to_string(sizeof(CVONLINEIDSLib::CVHC_PAGE_DESCRIPTOR));

TEST(CvHostPages, UserConsoleReceivesBothPagesWithTheirDescriptors) {
  const host_run_t run = run_fake(L"pages");
  EXPECT_EQ(run.exit_code, 0u) << run;
  // The main page's title carries what the site answered for property 14 and
  // for an unknown property; the plug-in spoils the title after each call, so
  // the host must have copied it.
  const std::vector<std::string> expected = {
      "addpage: order=1 location=8 flags=0 group=KVX title=Main view=0 other=0x80070057 "
      "result=accepted",
      "addpage: order=2 location=8 flags=0 group=KVX title=Settings result=accepted",
      "pages: hr=0x00000000 count=2",
      "page: order=1 location=8 flags=0 group=KVX kind=5 " + kDescriptorSize +
          " title=Main view=0 other=0x80070057 icon=119 iconmodule=self",
      "page: order=2 location=8 flags=0 group=KVX kind=1 " + kDescriptorSize +
          " title=Settings icon=0 iconmodule=none",
  };
  EXPECT_EQ(run.lines(), expected) << run;
}

TEST(CvHostPages, HostKindFollowsTheElementOrTheOption) {
  host_run_t run = run_fake(L"--element DashBoard pages");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.has_line("pages: hr=0x00000000 count=1")) << run;
  EXPECT_TRUE(run.has_line("page: order=1 location=1 flags=1 group=KVX kind=5 " + kDescriptorSize +
                           " title=Main view=0 other=0x80070057 icon=119 iconmodule=other"))
      << run;

  run = run_fake(L"--kind DashBoard pages");
  EXPECT_TRUE(run.has_line("pages: hr=0x00000000 count=1")) << run;

  // Kinds the plug-in does not know (the names are case-sensitive there).
  for (const wchar_t* arguments :
       {L"--kind userconsole pages", L"--element UIElements\\AppControl pages"}) {
    run = run_fake(arguments);
    EXPECT_EQ(run.exit_code, 0u) << run;
    EXPECT_EQ(run.lines(), std::vector<std::string>{"pages: hr=0x00000000 count=0"}) << run;
  }
}

TEST(CvHostPages, MissingKindFailsTheRequest) {
  const host_run_t run = run_fake(L"--no-kind pages");
  EXPECT_EQ(run.exit_code, 6u) << run;
  EXPECT_EQ(run.lines(), std::vector<std::string>{"pages: hr=0x80004005 count=0"}) << run;
  EXPECT_NE(run.err.find("pages failed: 0x80004005"), std::string::npos) << run;
}

TEST(CvHostPages, FirstViewAnswers) {
  const struct {
    const wchar_t* option;
    const char* title;
  } cases[] = {
      {L"--first-view 3", "title=Main view=3 "},
      {L"--first-view \"\"", "title=Main view= "},
      {L"--first-view-int 4", "title=Main view=vt3:4 "},
      {L"--no-first-view", "title=Main view=hr0x80070057 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.option));
    const host_run_t run = run_fake(std::wstring(c.option) + L" --quiet pages");
    EXPECT_EQ(run.exit_code, 0u) << run;
    const auto pages = run.lines_with("page: order=1 ");
    ASSERT_EQ(pages.size(), 1u) << run;
    EXPECT_NE(pages[0].find(c.title), std::string::npos) << pages[0];
  }
}

TEST(CvHostPages, RefusedPagesAreNotKept) {
  host_run_t run = run_fake(L"--refuse-page 2 pages");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(
      run.has_line("addpage: order=2 location=8 flags=0 group=KVX title=Settings "
                   "result=refused"))
      << run;
  EXPECT_TRUE(run.has_line("pages: hr=0x00000000 count=1")) << run;
  EXPECT_EQ(run.lines_with("page: ").size(), 1u) << run;
  EXPECT_EQ(run.lines_with("page: order=1 ").size(), 1u) << run;

  run = run_fake(L"--refuse-page 1 --refuse-page 2 pages");
  EXPECT_TRUE(run.has_line("pages: hr=0x00000000 count=0")) << run;
  EXPECT_EQ(run.lines_with("addpage: ").size(), 2u) << run;
}

TEST(CvHostPages, QuietLeavesOnlyTheResultLines) {
  const host_run_t run = run_fake(L"--quiet pages");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.lines_with("addpage:").empty()) << run;
  EXPECT_EQ(run.lines_with("page: ").size(), 2u) << run;
  EXPECT_EQ(run.err, "") << run;
}

// ---------------------------------------------------------------------------
// The property sheet

TEST(CvHostShow, ShowsThePagesInASheetAndClosesIt) {
  const host_run_t run = run_fake(L"--quiet show --close-after 200");
  EXPECT_EQ(run.exit_code, 0u) << run;
  const std::vector<std::string> expected = {
      "show: hr=0x00000000 count=2",
      "show: shown pages=2 caption=Security Console",
      "show: notify code=8 pages=1",  // the second page was never shown
      "show: closed",
  };
  EXPECT_EQ(run.lines(), expected) << run;
}

TEST(CvHostShow, RefusedPagesStayOutOfTheSheet) {
  const host_run_t run = run_fake(L"--quiet --refuse-page 1 show --close-after 100");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.has_line("show: shown pages=1 caption=Security Console")) << run;
}

TEST(CvHostShow, ScreenshotIsABitmapOfTheSheet) {
  const std::wstring picture = scratch_folder() + L"sheet.bmp";
  const host_run_t run =
      run_fake(L"--quiet show --close-after 300 --screenshot \"" + picture + L"\"");
  EXPECT_EQ(run.exit_code, 0u) << run;
  const auto lines = run.lines_with("show: screenshot width=");
  ASSERT_EQ(lines.size(), 1u) << run;
  const std::vector<char> bytes = read_bytes(picture);
  ::DeleteFileW(picture.c_str());
  ASSERT_GT(bytes.size(), 54u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  // The size in the file header is the file's size.
  const auto u32 = [&bytes](size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 3])) << 24;
  };
  EXPECT_EQ(u32(2), bytes.size());
  EXPECT_EQ(
      "show: screenshot width=" + std::to_string(u32(18)) + " height=" + std::to_string(u32(22)),
      lines[0]);
}

TEST(CvHostShow, NoPagesExitsWith5) {
  const host_run_t run = run_fake(L"--kind Other show --close-after 100");
  EXPECT_EQ(run.exit_code, 5u) << run;
  EXPECT_TRUE(run.has_line("show: no pages")) << run;
}

TEST(CvHostShow, FailedRequestExitsWith6) {
  const host_run_t run = run_fake(L"--no-kind show --close-after 100");
  EXPECT_EQ(run.exit_code, 6u) << run;
  EXPECT_TRUE(run.has_line("show: hr=0x80004005 count=0")) << run;
}

// ---------------------------------------------------------------------------
// Driving the sheet with a script

host_run_t run_script(const std::string& script) {
  const std::wstring path = scratch_folder() + L"script.txt";
  write_bytes(path, std::vector<char>(script.begin(), script.end()));
  host_run_t run = run_fake(L"--quiet drive \"" + path + L"\"");
  ::DeleteFileW(path.c_str());
  return run;
}

// The test plug-in's button asks in a box, tells the console and offers a menu
// that marks the page changed; Apply and OK tell every page that was shown.
TEST(CvHostDrive, StepsAnswerBoxesAndMenusAndThePagesHearOfApplyAndOk) {
  const host_run_t run = run_script(
      "page \"Fake settings\"\n"
      "page @0\n"
      "box Yes\n"
      "menu 40002\n"
      "click Ask\n"
      "wait-text #1000 changed\n"
      "apply\n"
      "wait-text #1000 saved 2000\n"
      "ok\n");
  EXPECT_EQ(run.exit_code, 0u) << run;
  const std::vector<std::string> expected = {
      "drive: hr=0x00000000 count=2",
      "drive: shown pages=2 caption=Security Console",
      "step 1 page: ok index=1 title=Fake settings",
      "step 2 page: ok index=0 title=Fake main",
      "step 3 box: ok armed",
      "step 4 menu: ok armed command=40002",
      "box: step 3 pressed=6 caption=Fake plug-in text=Tell the console?",
      "drive: request 0xBD1 wparam=1 lparam={DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}",
      "menu: step 4 chosen=40002 items=&Keep (40001) | &Change (40002)",
      "step 5 click: ok id=1019 class=Button text=&Ask",
      "step 6 wait-text: ok \"changed\"",
      "drive: notify code=11 pages=2",
      "step 7 apply: ok apply=disabled",
      "step 8 wait-text: ok \"saved\"",
      "drive: notify code=11 pages=2",
      "step 9 ok: ok closed",
      "drive: closed",
  };
  EXPECT_EQ(run.lines(), expected) << run;
}

// The row list of the test page reports a double click, keys with the state of
// Ctrl, and a row dragged with the mouse onto a category of the other list.
TEST(CvHostDrive, ListItemsKeysAndDragging) {
  const host_run_t run = run_script(
      "select #1006 Mail\n"
      "rows @0\n"
      "dblclick #1006 @2\n"
      "wait-text #1000 \"opened 2\"\n"
      "keys #1006 Ctrl+Delete\n"
      "wait-text #1000 \"key 46 ctrl=1\"\n"
      "keys focus Insert\n"
      "wait-text #1000 \"key 45 ctrl=0\"\n"
      "drag #1006 Bank #1003 Work\n"
      "wait-text #1000 \"dropped 0 on 1\"\n"
      "controls\n"
      "screenshot \"" +
      narrow(scratch_folder()) + "page.png\"\n");
  EXPECT_EQ(run.exit_code, 0u) << run;
  const std::vector<char> picture = read_bytes(scratch_folder() + L"page.png");
  ::DeleteFileW((scratch_folder() + L"page.png").c_str());
  EXPECT_EQ(std::string(picture.begin(), picture.begin() + std::min<size_t>(picture.size(), 4)),
            "\x89PNG");
  for (const char* line : {"step 1 select: ok item=1 text=Mail", "row 1 selected: Mail",
                           "step 10 wait-text: ok \"dropped 0 on 1\""})
    EXPECT_TRUE(run.has_line(line)) << line << "\n" << run;
  EXPECT_EQ(run.lines_with("control depth=1 ").size(), 4u) << run;
  EXPECT_EQ(run.lines_with("step ").size(), 12u) << run;
}

TEST(CvHostDrive, AFailedStepClosesTheSheetWith8) {
  struct case_t {
    const char* script;
    const char* line;
  };
  const case_t cases[] = {
      {"click Nothing\nok", "step 1 click: failed: no control \"Nothing\" on the page"},
      {"\n# Apply stays disabled\napply", "step 3 apply: failed: Apply is disabled"},
      {"box No", "drive: the box answer of step 1 was never used"},
      {"menu 40003\nbox Yes\nclick Ask",
       "step 3 click: failed: the menu answer of step 1 failed: the menu has no item 40003"},
  };
  for (const case_t& c : cases) {
    const host_run_t run = run_script(c.script);
    EXPECT_EQ(run.exit_code, 8u) << run;
    EXPECT_TRUE(run.has_line(c.line)) << run;
    EXPECT_TRUE(run.has_line("drive: closed")) << run;
  }
}

TEST(CvHostDrive, ScriptErrorsExitWith1BeforeLoading) {
  const host_run_t run = run_script("page @0\nkeys focus Ctrl+Hyper");
  EXPECT_EQ(run.exit_code, 1u) << run;
  EXPECT_NE(run.err.find("line 2: \"Ctrl+Hyper\" is not a key"), std::string::npos) << run;
  EXPECT_TRUE(run.lines().empty()) << run;
}

// ---------------------------------------------------------------------------
// Loading the plug-in

TEST(CvHostLoading, ModuleProblemsExitWith3) {
  host_run_t run = run_host(L"--plugin \"" + scratch_folder() + L"missing.dll\" status");
  EXPECT_EQ(run.exit_code, 3u) << run;
  EXPECT_NE(run.err.find("cannot load the plug-in module"), std::string::npos) << run;
  EXPECT_NE(run.err.find("error 126 "), std::string::npos) << run;
  EXPECT_EQ(run.out, "") << run;

  // A library that is no plug-in.
  run = run_host(L"--plugin kernel32.dll status");
  EXPECT_EQ(run.exit_code, 3u) << run;
  EXPECT_NE(run.err.find("has no DllGetClassObject: error 127 "), std::string::npos) << run;
}

TEST(CvHostLoading, ObjectProblemsExitWith4) {
  {
    const scoped_environment fail(L"FAKEPLUGIN_CREATE_HRESULT", L"0x8007000E");
    const host_run_t run = run_fake(L"status");
    EXPECT_EQ(run.exit_code, 4u) << run;
    EXPECT_NE(run.err.find("class not available: 0x8007000E "), std::string::npos) << run;
    EXPECT_EQ(run.out, "") << run;
  }
  {
    const scoped_environment refuse(L"FAKEPLUGIN_NO_INTERFACE", L"ICVHCBackupRestore");
    host_run_t run = run_fake(L"backup \"" + scratch_folder() + L"never.bin\"");
    EXPECT_EQ(run.exit_code, 4u) << run;
    EXPECT_NE(run.err.find("class not available: 0x80004002 "), std::string::npos) << run;
    EXPECT_EQ(run.out, "") << run;
    EXPECT_FALSE(file_exists(scratch_folder() + L"never.bin"));

    // The other interfaces are still there.
    run = run_fake(L"status");
    EXPECT_EQ(run.exit_code, 0u) << run;
  }
}

TEST(CvHostLoading, UnregisteredElementExitsWith2NamingTheKey) {
  const std::wstring element = L"CvHostNowhere" + std::to_wstring(::GetCurrentProcessId());
  const host_run_t run = run_host(L"--element " + element + L" status");
  EXPECT_EQ(run.exit_code, 2u) << run;
  EXPECT_NE(
      run.err.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvantis\\CVHC\\Plugins\\" + narrow(element)),
      std::string::npos)
      << run;
}

// ---------------------------------------------------------------------------
// Plug-in keys in the machine's registry

class CvHostRegistry : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kParents[] = {L"SOFTWARE\\Corvantis",
                                                L"SOFTWARE\\Corvantis\\CVHC", kPluginsKey};
  static constexpr REGSAM kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

  void SetUp() override {
    for (int view = 0; view < 2; ++view) {
      for (int i = 0; i < 3; ++i)
        m_existed[view][i] =
            support::try_open_key(HKEY_LOCAL_MACHINE, kParents[i], KEY_READ | kViews[view])
                .has_value();
    }
  }

  void TearDown() override {
    for (int view = 0; view < 2; ++view) {
      if (auto plugins =
              support::try_open_key(HKEY_LOCAL_MACHINE, kPluginsKey, KEY_ALL_ACCESS | kViews[view]))
        ::RegDeleteTreeW(plugins->get(), m_element.c_str());
      // Parent keys made by this test go again (only while they are empty).
      for (int i = 2; i >= 0; --i) {
        if (!m_existed[view][i])
          ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kParents[i], kViews[view], 0);
      }
    }
  }

  // Writes the class key ELEMENT\CLASS with the module path as default value
  // (none when path is nullopt).
  void register_class(const std::wstring& element,
                      const std::wstring& class_name,
                      const std::optional<std::wstring>& path,
                      REGSAM view = 0) {
    const std::wstring key_path = std::wstring(kPluginsKey) + L"\\" + element + L"\\" + class_name;
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const support::unique_hkey owner(key);
    if (path) {
      ASSERT_EQ(::RegSetValueExW(key, nullptr, 0, REG_EXPAND_SZ,
                                 reinterpret_cast<const BYTE*>(path->c_str()),
                                 static_cast<DWORD>((path->size() + 1) * sizeof(wchar_t))),
                ERROR_SUCCESS);
    }
  }

  const std::wstring m_element = L"CvHostTest" + std::to_wstring(::GetCurrentProcessId());
  bool m_existed[2][3] = {};
};

TEST_F(CvHostRegistry, RegisteredModulePathIsExpandedAndLoaded) {
  const scoped_environment folder(L"CVHOST_TEST_DIR", program_folder());
  register_class(m_element, kComponentClass, L"%CVHOST_TEST_DIR%fakeplugin.dll");
  const host_run_t run = run_host(L"--element " + m_element + L" status");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.has_line("status: hr=0x00000000 value=2 text=Fake status")) << run;
  EXPECT_NE(run.err.find(narrow(program_folder()) + "fakeplugin.dll"), std::string::npos) << run;
}

TEST_F(CvHostRegistry, ElementPathsMayHaveSeveralLevels) {
  const std::wstring element = m_element + L"\\AppControl";
  register_class(element, kComponentClass, program_folder() + L"fakeplugin.dll");
  const host_run_t run = run_host(L"--element " + element + L" pages");
  EXPECT_EQ(run.exit_code, 0u) << run;
  // The host kind is the element itself, which the plug-in gives no pages.
  EXPECT_TRUE(run.has_line("pages: hr=0x00000000 count=0")) << run;
}

TEST_F(CvHostRegistry, ComponentClassIsPreferredOverTheFirstKey) {
  // Sorted before the component's class, pointing nowhere; the component's key
  // in lower case (key names do not depend on case).
  register_class(m_element, L"{00000000-0000-0000-0000-000000000001}",
                 scratch_folder() + L"missing.dll");
  register_class(m_element, L"{dfe62cbf-66e7-4101-926b-16ec9db5ca4f}",
                 program_folder() + L"fakeplugin.dll");
  const host_run_t run = run_host(L"--element " + m_element + L" disable-status");
  EXPECT_EQ(run.exit_code, 0u) << run;
  EXPECT_TRUE(run.has_line("disable-status: hr=0x00000000 value=2")) << run;
}

TEST_F(CvHostRegistry, AnotherClassIsAskedForItsOwnIdentifier) {
  register_class(m_element, L"{11111111-2222-3333-4444-555555555555}",
                 program_folder() + L"fakeplugin.dll");
  const host_run_t run = run_host(L"--element " + m_element + L" status");
  // The test plug-in serves only the component's class.
  EXPECT_EQ(run.exit_code, 4u) << run;
  EXPECT_NE(run.err.find("class not available: 0x80040111 "), std::string::npos) << run;
}

TEST_F(CvHostRegistry, UnusableRegistrationsExitWith2) {
  // An element key without any class key.
  HKEY key = nullptr;
  ASSERT_EQ(
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kPluginsKey) + L"\\" + m_element).c_str(),
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  ::RegCloseKey(key);
  host_run_t run = run_host(L"--element " + m_element + L" status");
  EXPECT_EQ(run.exit_code, 2u) << run;
  EXPECT_NE(run.err.find("has no class key"), std::string::npos) << run;

  // A class key without a module path.
  register_class(m_element, kComponentClass, std::nullopt);
  run = run_host(L"--element " + m_element + L" status");
  EXPECT_EQ(run.exit_code, 2u) << run;
  EXPECT_NE(run.err.find("names no module"), std::string::npos) << run;
}

TEST_F(CvHostRegistry, KeyNotNamingAClassExitsWith2) {
  register_class(m_element, L"NotAClass", program_folder() + L"fakeplugin.dll");
  const host_run_t run = run_host(L"--element " + m_element + L" status");
  EXPECT_EQ(run.exit_code, 2u) << run;
  EXPECT_NE(run.err.find("does not name a class identifier"), std::string::npos) << run;
}

TEST_F(CvHostRegistry, RegistrationInTheOtherViewIsNotSeen) {
  // The host reads its own registry view (the redirected one for the 32-bit
  // host), where a plug-in of its bitness registers itself.
  constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  register_class(m_element, kComponentClass, program_folder() + L"fakeplugin.dll", kOtherView);
  const host_run_t run = run_host(L"--element " + m_element + L" status");
  EXPECT_EQ(run.exit_code, 2u) << run;
}

}  // namespace
