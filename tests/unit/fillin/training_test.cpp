// The training component through its loader, over the stand-in: the account
// dialog answered by a script, passwords kept as references of the caller's
// protected-storage session, and the training monitor started as the
// notification window starts it, through CvRunDll.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/training_launch.h"
#include "store/fillin_components.h"
#include "store/protected_storage.h"
#include "support/hresult.h"
#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"
#include "tests/unit/fillin/fillin_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace fillin {
namespace {

using filltest::record;
using serialization::cvprofile_t;
using serialization::cvprofiles_t;
using testsupport::program_file;
using testsupport::scoped_environment_t;

constexpr wchar_t kId[] = L"{6F1C2A40-3B7E-4D8A-9C11-2E5B7A0D4F01}";
constexpr wchar_t kScript[] = L"CVUTRAIN_STANDIN_SCRIPT";

// A logon with a user name, a password and a button (not asked).
const char kTemplate[] = R"(<manifest>
  <descriptor id="{6F1C2A40-3B7E-4D8A-9C11-2E5B7A0D4F01}"/>
  <forms><form>
    <fcontext type="" name="0"/>
    <fields>
      <field type="edit" displayname="E-mail address" dbname="email" useit="1"/>
      <field type="edit" displayname="Password" dbname="password" password="1" useit="1"/>
      <field type="button" displayname="Sign in" submit="1" useit="1"/>
    </fields>
  </form></forms>
</manifest>
)";

const CTrainingComponent& train() {
  static const CTrainingComponent library(program_file(L"CvUTrain.dll"));
  return library;
}
const CFillinComponent& fill() {
  static const CFillinComponent library(program_file(L"CvFillin.dll"));
  return library;
}

std::wstring item_value(const cvprofile_t& r, const std::string& db) {
  for (const auto& item : r.items)
    if (item.dbname == db)
      return std::wstring(item.value.view());
  return L"<none>";
}

class Training : public ::testing::Test {
 protected:
  void SetUp() override {
    m_template = m_folder.path() + L"northwind.cvm";
    testsupport::write_file(m_template, kTemplate);
  }

  std::optional<cvprofile_t> run(training_mode mode,
                                 const cvprofile_t& request,
                                 const wchar_t* data = nullptr,
                                 DWORD storage = 0) {
    return train().modify_profile(nullptr, mode, m_template, kId, storage, data, request);
  }

  HRESULT failure_of(std::function<void()> call) {
    try {
      call();
    } catch (const support::hresult_error& e) {
      return e.code();
    }
    return S_OK;
  }

  testsupport::scratch_folder_t m_folder;
  std::wstring m_template;
};

TEST_F(Training, AScriptAddsAnAccountWithTheNextFreeProfileIndexAndAReferencedPassword) {
  scoped_environment_t script(kScript,
                              L"ok;profilename=Work;email=alice@example.com;password=p\\;w1");
  const std::wstring data(fill().update_profiles(kId, L"", {record(0, L"Old", {})}).view());
  cvprofile_t request;
  request.operation = 1;
  const auto added = run(training_mode::add, request, data.c_str());
  ASSERT_TRUE(added);
  EXPECT_EQ(added->operation, 1);
  EXPECT_EQ(added->profileindex, 1);
  EXPECT_EQ(added->profilename, L"Work");
  EXPECT_FALSE(added->updatedate.empty());
  ASSERT_EQ(added->items.size(), 2u);
  EXPECT_EQ(added->items[0].displayname, L"E-mail address");
  EXPECT_EQ(item_value(*added, "email"), L"alice@example.com");
  EXPECT_EQ(item_value(*added, "password"), L"p;w1");  // no session: the value itself

  request.profileindex = 2;
  // With the caller's protected-storage session the password is kept there
  // and the record holds a reference to it.
  const pstest::scratch_store store;
  const pstore::CProtectedStorage ps(program_file(L"CvoPS.dll"));
  const pstore::handle_t h = ps.init();
  const auto kept = run(training_mode::add, request, nullptr, h);
  ASSERT_TRUE(kept);
  const std::wstring reference = std::wstring(kId) + L"/2/0/1";
  EXPECT_EQ(item_value(*kept, "password"), L"550-08-60 " + reference);
  EXPECT_EQ(ps.get_reference(h, reference.c_str()), std::wstring_view(L"p;w1"));
  ps.term(h);
}

// No record back: the user cancelled or changed nothing (S_FALSE); failures
// are raised with their code.
TEST_F(Training, AnswersWithoutARecord) {
  const cvprofile_t account = record(1, L"Work", {{L"E-mail address", "email", L"a@x.example"}});
  const struct {
    training_mode mode;
    const wchar_t* script;
    HRESULT failure;  // S_OK: no record
  } cases[] = {
      {training_mode::add, L"cancel", S_OK},
      {training_mode::edit, L"cancel", S_OK},
      {training_mode::edit, L"ok", S_OK},
      {training_mode::add, L"ok;nosuchfield=1", E_INVALIDARG},
      {training_mode::add, L"ok;profilename=", E_INVALIDARG},  // the account name is required
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(templates::wide_to_utf8(c.script));
    scoped_environment_t script(kScript, c.script);
    std::optional<cvprofile_t> result;
    EXPECT_EQ(failure_of([&] { result = run(c.mode, account); }), c.failure);
    EXPECT_FALSE(result);
  }
  scoped_environment_t script(kScript, L"ok");
  EXPECT_EQ(failure_of([&] {
              train().modify_profile(nullptr, training_mode::add, m_folder.path() + L"none.cvm",
                                     kId, 0, nullptr, account);
            }),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

// --- The training monitor ------------------------------------------------

TEST(TrainingCommandLine, ArgumentsAreQuotedAndSeparatedBySpaces) {
  EXPECT_EQ(agent::training_command_line(L"C:\\Program Files (x86)\\corvantis\\bin\\",
                                         reinterpret_cast<HWND>(0x0001002A)),
            L"\"C:\\Program Files (x86)\\corvantis\\bin\\CvRunDll.exe\" "
            L"\"C:\\Program Files (x86)\\corvantis\\bin\\CvUTrain.dll\" "
            L"\"dll_function_startmonitor\" \"0x0001002A\"");
  // A folder without its trailing backslash gets one.
  EXPECT_EQ(agent::training_command_line(L"D:\\suite", nullptr),
            L"\"D:\\suite\\CvRunDll.exe\" \"D:\\suite\\CvUTrain.dll\" "
            L"\"dll_function_startmonitor\" \"0x00000000\"");
  const struct {
    std::vector<std::wstring> arguments;
    const wchar_t* line;
  } cases[] = {
      {{}, L""},
      {{L"one"}, L"\"one\""},
      {{L"a b", L""}, L"\"a b\" \"\""},
      {{L"C:\\dir\\", L"x"}, L"\"C:\\dir\\\\\" \"x\""},  // the closing quote is not escaped
      {{L"a\\b"}, L"\"a\\b\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(agent::quoted_command_line(c.arguments), c.line);
  try {
    agent::quoted_command_line({L"say \"hi\""});
    ADD_FAILURE() << "a quote inside an argument was written";
  } catch (const support::hresult_error& e) {
    EXPECT_EQ(e.code(), E_INVALIDARG);
  }
}

// Each run: a store, a template folder and a log of the host of its own, and
// a window standing in for the notification window.
class TrainingMonitor : public ::testing::Test {
 protected:
  TrainingMonitor()
      : m_folder_env(L"CVUTRAIN_STANDIN_TEMPLATE_DIR", m_templates.path()),
        m_log_env(L"CVRUNDLL_STANDIN_LOG", m_log.path() + L"run.log") {
    m_window = ::CreateWindowExW(0, L"STATIC", L"notification", WS_POPUP, 0, 0, 10, 10, nullptr,
                                 nullptr, nullptr, nullptr);
  }
  ~TrainingMonitor() override { ::DestroyWindow(m_window); }

  // Starts the monitor as the notification window does and waits for it.
  DWORD run_monitor() {
    const support::unique_handle process =
        agent::start_training(testsupport::program_file(L""), m_window);
    EXPECT_EQ(::GetPriorityClass(process.get()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    // The broadcast reaches this thread's windows while the monitor runs.
    return testsupport::wait_pumping(process.get(), [this](const MSG& message) {
      if (message.hwnd == m_window)
        m_received.push_back(message.message);
    });
  }

  bool received(const wchar_t* name) const {
    const UINT id = ::RegisterWindowMessageW(name);
    return std::find(m_received.begin(), m_received.end(), id) != m_received.end();
  }

  serialization::secure_wstring stored_text() const {
    const pstore::CProtectedStorage ps(program_file(L"CvoPS.dll"));
    const pstore::handle_t h = ps.init();
    auto text = ps.query(h, nullptr);
    ps.term(h);
    return text;
  }

  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_templates;
  testsupport::scratch_folder_t m_log;
  scoped_environment_t m_folder_env;
  scoped_environment_t m_log_env;
  HWND m_window = nullptr;
  std::vector<UINT> m_received;
};

TEST_F(TrainingMonitor, ANewLogonGetsItsTemplateAndItsProfile) {
  scoped_environment_t script(kScript,
                              L"ok;name=Contoso Bank;address=bank.contoso.example/login;"
                              L"username=bob;password=pw-42");
  ASSERT_EQ(run_monitor(), static_cast<DWORD>(S_OK));

  // The host got exactly the command line.
  wchar_t handle[16];
  std::swprintf(handle, 16, L"0x%08X",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(m_window)));
  const std::string folder = templates::wide_to_utf8(testsupport::program_file(L""));
  EXPECT_EQ(testsupport::read_lines(m_log.path() + L"run.log"),
            (std::vector<std::string>{
                "arg[0]=" + folder + "CvRunDll.exe",
                "arg[1]=" + folder + "CvUTrain.dll",
                "arg[2]=dll_function_startmonitor",
                "arg[3]=" + templates::wide_to_utf8(handle),
                "result=0x00000000",
            }));

  // What the monitor made of the logon is the stand-in's own affair; that it
  // made something is enough here.
  EXPECT_EQ(m_templates.files(), std::vector<std::wstring>{L"Contoso Bank.cvm"});
  EXPECT_FALSE(stored_text().empty());

  // The consoles hear of it, and the one that asked is brought back.
  EXPECT_TRUE(received(L"WM_CV_PSTORAGE_UPDATED"));
  EXPECT_TRUE(received(L"WM_CV_FLM_RESTORE"));
}

// Cancelled or failed, the monitor leaves no template behind (a profile that
// cannot be saved takes its template with it) and its result is the exit code.
TEST_F(TrainingMonitor, CancelledOrFailedLeavesNothingBehind) {
  const struct {
    const wchar_t* script;
    const wchar_t* library;  // the stand-in made to fail
    const wchar_t* entry_point;
    HRESULT result;
  } cases[] = {
      {L"cancel", L"CvUTrain", L"", S_FALSE},
      {L"ok;name=n;address=a", L"CvUTrain", L"dll_function_startmonitor", E_ACCESSDENIED},
      {L"ok;name=n;address=a", L"CvoPS", L"CVOPSSave", E_ACCESSDENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(templates::wide_to_utf8(std::wstring(c.script) + L" " + c.entry_point));
    scoped_environment_t script(kScript, c.script);
    testsupport::standin_faults_t faults(c.library);
    if (*c.entry_point)
      faults.fail(c.entry_point, c.result);
    m_received.clear();
    EXPECT_EQ(run_monitor(), static_cast<DWORD>(c.result));
    EXPECT_TRUE(m_templates.files().empty());
    EXPECT_TRUE(stored_text().empty());
    EXPECT_FALSE(received(L"WM_CV_FLM_RESTORE"));
  }
}

TEST(TrainingLaunch, AMissingHostIsRaisedWithTheSystemsError) {
  testsupport::scratch_folder_t empty;
  try {
    agent::start_training(empty.path(), nullptr);
    ADD_FAILURE() << "started";
  } catch (const support::hresult_error& e) {
    EXPECT_EQ(e.code(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  }
}

}  // namespace
}  // namespace fillin
