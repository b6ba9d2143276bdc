// The training component through its loader, over the stand-in: the account
// dialog answered by a script, passwords kept as references of the caller's
// protected-storage session, and the training monitor started as the
// notification window starts it, through CvRunDll.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
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

// The user cancelled (S_FALSE): no record. (What the stand-in refuses is its own
// affair; failures raised with their code are the loader tests'.)
TEST_F(Training, ACancelledDialogGivesNoRecord) {
  scoped_environment_t script(kScript, L"cancel");
  EXPECT_FALSE(run(training_mode::edit, record(1, L"Work", {})));
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
// a window standing in for the notification window. What the monitor then does
// is the stand-in's own affair (the end-to-end tests train through it).
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
    return testsupport::wait_pumping(process.get());
  }

  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_templates;
  testsupport::scratch_folder_t m_log;
  scoped_environment_t m_folder_env;
  scoped_environment_t m_log_env;
  HWND m_window = nullptr;
};

TEST_F(TrainingMonitor, TheHostGetsTheCommandLineOfTheNotificationWindow) {
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
