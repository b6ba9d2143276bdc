// The training stand-in: the account dialog answered by a script and driven
// by real window messages, passwords kept as references of the caller's
// protected-storage session, and the training monitor started as the
// notification window starts it, through CvRunDll.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/training_launch.h"
#include "store/fillin_components.h"
#include "store/protected_storage.h"
#include "support/hresult.h"
#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_loader.h"
#include "tests/unit/fillin/fillin_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace fillin {
namespace {

using filltest::beside_program;
using filltest::record;
using filltest::scoped_environment;
using serialization::cvprofile_t;
using serialization::cvprofiles_t;

constexpr wchar_t kId[] = L"{6F1C2A40-3B7E-4D8A-9C11-2E5B7A0D4F01}";
constexpr wchar_t kScript[] = L"CVUTRAIN_STANDIN_SCRIPT";

// A logon with a user name, a password, a value of the template's own (not
// asked), a field without database name and a button (not asked).
const char kTemplate[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<manifest>
  <descriptor id="{6F1C2A40-3B7E-4D8A-9C11-2E5B7A0D4F01}"/>
  <forms>
    <form>
      <fcontext type="" name="0"/>
      <detection web_murl="https://mail.northwind.example/login"/>
      <options choosename="Northwind Mail"/>
      <fields>
        <field type="edit" displayname="E-mail address" dbname="email" useit="1"/>
        <field type="edit" displayname="Password" dbname="password" password="1" useit="1"/>
        <field type="check" displayname="Keep me signed in" value="%01" useit="1"/>
        <field type="edit" displayname="Security word" useit="1"/>
        <field type="button" displayname="Sign in" submit="1" useit="1"/>
      </fields>
    </form>
  </forms>
</manifest>
)";

const CTrainingComponent& train() {
  static const CTrainingComponent library(beside_program(L"CvUTrain.dll"));
  return library;
}
const CFillinComponent& fill() {
  static const CFillinComponent library(beside_program(L"CvFillin.dll"));
  return library;
}

std::wstring item_value(const cvprofile_t& r,
                        const std::string& db,
                        const std::wstring& display = L"") {
  for (const auto& item : r.items)
    if (item.dbname == db && (display.empty() || item.displayname == display))
      return std::wstring(item.value.view());
  return L"<none>";
}

class Training : public ::testing::Test {
 protected:
  void SetUp() override {
    m_template = m_folder.path() + L"northwind.cvm";
    filltest::write_file(m_template, kTemplate);
  }

  std::optional<cvprofile_t> run(training_mode mode,
                                 const cvprofile_t& request,
                                 const wchar_t* data = nullptr,
                                 DWORD storage = 0,
                                 HWND owner = nullptr) {
    return train().modify_profile(owner, mode, m_template, kId, storage, data, request);
  }

  HRESULT failure_of(std::function<void()> call) {
    try {
      call();
    } catch (const support::hresult_error& e) {
      return e.code();
    }
    return S_OK;
  }

  filltest::scratch_folder m_folder;
  std::wstring m_template;
};

TEST_F(Training, AScriptAddsAnAccountWithTheNextFreeProfileIndex) {
  scoped_environment script(kScript,
                            L"ok;profilename=Work;email=alice@example.com;password=p\\;w1;"
                            L"Security word=owl");
  const std::wstring data(fill().update_profiles(kId, L"", {record(0, L"Old", {})}).view());
  cvprofile_t request;
  request.operation = 1;
  const auto added = run(training_mode::add, request, data.c_str());
  ASSERT_TRUE(added);
  EXPECT_EQ(added->operation, 1);
  EXPECT_EQ(added->profileindex, 1);
  EXPECT_EQ(added->profilename, L"Work");
  EXPECT_FALSE(added->updatedate.empty());
  ASSERT_EQ(added->items.size(), 3u);
  EXPECT_EQ(added->items[0].displayname, L"E-mail address");
  EXPECT_EQ(item_value(*added, "email"), L"alice@example.com");
  EXPECT_EQ(item_value(*added, "password"), L"p;w1");  // no session: the value itself
  EXPECT_EQ(item_value(*added, "", L"Security word"), L"owl");

  // Without stored profiles the request's index stays.
  request.profileindex = 0;
  EXPECT_EQ(run(training_mode::add, request, nullptr)->profileindex, 0);
}

TEST_F(Training, ScriptsThatCancelOrDoNotFit) {
  cvprofile_t request;
  request.profilename = L"Given";
  const struct {
    const wchar_t* script;
    HRESULT failure;  // S_OK: cancelled, no record
  } cases[] = {
      {L"cancel", S_OK},
      {L"CANCEL;email=x", S_OK},
      {L"ok;nosuchfield=1", E_INVALIDARG},
      {L"ok;profilename=", E_INVALIDARG},  // the account name is required
      {L"maybe", E_INVALIDARG},
      {L"ok;email", E_INVALIDARG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(templates::wide_to_utf8(c.script));
    scoped_environment script(kScript, c.script);
    std::optional<cvprofile_t> result;
    EXPECT_EQ(failure_of([&] { result = run(training_mode::add, request); }), c.failure);
    EXPECT_FALSE(result);
  }
  scoped_environment script(kScript, L"ok");
  EXPECT_EQ(failure_of([&] {
              train().modify_profile(nullptr, training_mode::add, m_folder.path() + L"none.cvm",
                                     kId, 0, nullptr, request);
            }),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(Training, TheScriptCanComeFromTheRegistry) {
  filltest::standin_values values(L"CvUTrain");
  values.set(L"Script", L"ok;profilename=From the registry");
  cvprofile_t request;
  EXPECT_EQ(run(training_mode::add, request)->profilename, L"From the registry");
  // The environment wins.
  scoped_environment script(kScript, L"cancel");
  EXPECT_FALSE(run(training_mode::add, request));
}

TEST_F(Training, EditingReportsOnlyChanges) {
  const cvprofile_t account = record(
      4, L"Work", {{L"E-mail address", "email", L"a@x.example"}, {L"Password", "password", L"pw"}});
  {
    scoped_environment script(kScript, L"ok");
    EXPECT_FALSE(run(training_mode::edit, account));
  }
  scoped_environment script(kScript, L"ok;email=b@x.example");
  const auto edited = run(training_mode::edit, account);
  ASSERT_TRUE(edited);
  EXPECT_EQ(edited->profileindex, 4);
  EXPECT_EQ(edited->profilename, L"Work");
  EXPECT_EQ(item_value(*edited, "email"), L"b@x.example");
  EXPECT_EQ(item_value(*edited, "password"), L"pw");
  // A field left empty that the account had no item for gets none.
  EXPECT_EQ(edited->items.size(), 2u);
  EXPECT_EQ(item_value(*edited, "", L"Security word"), L"<none>");
}

TEST_F(Training, PasswordsBecomeReferencesOfTheCallersSession) {
  pstest::scratch_store store;
  scoped_environment use_store(L"CVOPS_STANDIN_STORE", store.name());
  const pstore::CProtectedStorage ps(beside_program(L"CvoPS.dll"));
  const pstore::handle_t h = ps.init();
  cvprofile_t request;
  request.profileindex = 2;
  std::optional<cvprofile_t> added;
  {
    scoped_environment script(kScript, L"ok;profilename=Work;email=a@x.example;password=first");
    added = run(training_mode::add, request, nullptr, h);
  }
  ASSERT_TRUE(added);
  const std::wstring reference = std::wstring(kId) + L"/2/0/1";
  EXPECT_EQ(item_value(*added, "password"), L"550-08-60 " + reference);
  EXPECT_EQ(ps.get_reference(h, reference.c_str()), std::wstring_view(L"first"));

  // Editing shows the stored password; left alone it stays the reference...
  {
    scoped_environment script(kScript, L"ok;email=b@x.example");
    const auto edited = run(training_mode::edit, *added, nullptr, h);
    ASSERT_TRUE(edited);
    EXPECT_EQ(item_value(*edited, "password"), L"550-08-60 " + reference);
    EXPECT_EQ(ps.get_reference(h, reference.c_str()), std::wstring_view(L"first"));
  }
  // ... and a new one goes under the same reference.
  scoped_environment script(kScript, L"ok;password=second");
  const auto changed = run(training_mode::edit, *added, nullptr, h);
  ASSERT_TRUE(changed);
  EXPECT_EQ(item_value(*changed, "password"), L"550-08-60 " + reference);
  EXPECT_EQ(ps.get_reference(h, reference.c_str()), std::wstring_view(L"second"));
  ps.term(h);
}

// The dialog of the account, driven by window messages from another thread as
// a user's clicks would arrive.
struct dialog_finder_t {
  DWORD thread = 0;
  HWND found = nullptr;
};

BOOL CALLBACK find_dialog(HWND window, LPARAM context) {
  auto* finder = reinterpret_cast<dialog_finder_t*>(context);
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  if (std::wstring(name) == L"#32770" && ::IsWindowVisible(window)) {
    finder->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND wait_for_dialog(DWORD thread) {
  for (int i = 0; i < 1500; ++i) {  // a generous bound, never a timing check
    dialog_finder_t finder{thread, nullptr};
    ::EnumThreadWindows(thread, find_dialog, reinterpret_cast<LPARAM>(&finder));
    if (finder.found)
      return finder.found;
    ::Sleep(20);
  }
  return nullptr;
}

// Runs the body on a thread of its own; `thread_id` is set before this returns.
std::thread on_own_thread(std::function<void()> body, DWORD& thread_id) {
  HANDLE started = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread thread([&thread_id, started, body = std::move(body)] {
    thread_id = ::GetCurrentThreadId();
    ::SetEvent(started);
    body();
  });
  ::WaitForSingleObject(started, INFINITE);
  ::CloseHandle(started);
  return thread;
}

std::wstring text_of(HWND window) {
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  return text;
}

TEST_F(Training, TheDialogShowsOneLabelledFieldPerTemplateFieldAndMasksPasswords) {
  ::SetEnvironmentVariableW(kScript, nullptr);
  cvprofile_t request;
  request.profilename = L"";
  std::optional<cvprofile_t> result;
  HRESULT failure = S_OK;
  DWORD thread_id = 0;
  std::thread dialog_thread = on_own_thread(
      [&] { failure = failure_of([&] { result = run(training_mode::add, request); }); }, thread_id);
  const HWND dialog = wait_for_dialog(thread_id);
  ASSERT_NE(dialog, nullptr) << "no dialog appeared";

  EXPECT_EQ(text_of(dialog), L"Add account - Northwind Mail");
  const struct {
    const wchar_t* label;
    bool masked;
  } rows[] = {
      {L"Account name:", false},
      {L"E-mail address:", false},
      {L"Password:", true},
      {L"Security word:", false},
  };
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(text_of(::GetDlgItem(dialog, CVUTRAIN_FIRST_LABEL_ID + i)), rows[i].label);
    const HWND field = ::GetDlgItem(dialog, CVUTRAIN_FIRST_EDIT_ID + i);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ((::GetWindowLongW(field, GWL_STYLE) & ES_PASSWORD) != 0, rows[i].masked);
  }
  EXPECT_EQ(::GetDlgItem(dialog, CVUTRAIN_FIRST_EDIT_ID + 4), nullptr);

  const auto press = [&](int id) {
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
  };
  // OK is refused while the account has no name.
  press(IDOK);
  EXPECT_TRUE(::IsWindow(dialog));
  ::SetDlgItemTextW(dialog, CVUTRAIN_FIRST_EDIT_ID + 0, L"Typed");
  ::SetDlgItemTextW(dialog, CVUTRAIN_FIRST_EDIT_ID + 1, L"typed@example.com");
  ::SetDlgItemTextW(dialog, CVUTRAIN_FIRST_EDIT_ID + 2, L"hidden");
  press(IDOK);
  dialog_thread.join();
  EXPECT_EQ(failure, S_OK);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->profilename, L"Typed");
  EXPECT_EQ(item_value(*result, "email"), L"typed@example.com");
  EXPECT_EQ(item_value(*result, "password"), L"hidden");

  // Cancel in edit mode: nothing comes back.
  result.reset();
  const cvprofile_t account = record(1, L"Work", {});
  std::thread edit_thread = on_own_thread(
      [&] { failure = failure_of([&] { result = run(training_mode::edit, account); }); },
      thread_id);
  const HWND edit_dialog = wait_for_dialog(thread_id);
  ASSERT_NE(edit_dialog, nullptr);
  EXPECT_EQ(text_of(edit_dialog), L"Edit account - Northwind Mail");
  EXPECT_EQ(text_of(::GetDlgItem(edit_dialog, CVUTRAIN_FIRST_EDIT_ID)), L"Work");
  ::SendMessageW(edit_dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  edit_thread.join();
  EXPECT_EQ(failure, S_OK);
  EXPECT_FALSE(result);
}

TEST_F(Training, CreatemanifestWritesATemplateTheComponentReads) {
  const auto create = train().entry_points().dll_function_createmanifest;
  LPWSTR path = nullptr;
  LPWSTR id = nullptr;
  ASSERT_EQ(create(L"Fabrikam <Shop> & \"Co\"", L"shop.fabrikam.example", m_folder.path().c_str(),
                   &path, &id),
            S_OK);
  const std::wstring file = path;
  const std::wstring identifier = id;
  ::CoTaskMemFree(path);
  ::CoTaskMemFree(id);
  EXPECT_EQ(file, m_folder.path() + L"Fabrikam _Shop_ _ _Co_.cvm");
  templates::manifest_t manifest;
  ASSERT_TRUE(templates::loadM_properly(manifest, file));
  EXPECT_EQ(templates::utf8_to_wide(manifest.descriptor.id), identifier);
  EXPECT_EQ(manifest.forms.at(0).options.choosename, "Fabrikam <Shop> & \"Co\"");
  EXPECT_EQ(manifest.forms.at(0).detection.web_murl, "https://shop.fabrikam.example");

  // A second logon of the same name gets a file of its own.
  ASSERT_EQ(create(L"Fabrikam <Shop> & \"Co\"", L"https://x.example", m_folder.path().c_str(),
                   &path, &id),
            S_OK);
  EXPECT_EQ(std::wstring(path), m_folder.path() + L"Fabrikam _Shop_ _ _Co_ (2).cvm");
  ::CoTaskMemFree(path);
  ::CoTaskMemFree(id);

  EXPECT_EQ(create(L"", L"x", m_folder.path().c_str(), &path, &id), E_INVALIDARG);
  EXPECT_EQ(create(L"n", L"x", m_folder.path().c_str(), nullptr, &id), E_POINTER);
  filltest::standin_values faults(L"CvUTrain");
  faults.fail(L"dll_function_createmanifest", E_ACCESSDENIED);
  EXPECT_EQ(create(L"n", L"x", m_folder.path().c_str(), &path, &id), E_ACCESSDENIED);
}

// --- The training monitor ------------------------------------------------

struct window_finder_t {
  DWORD pid = 0;
  const wchar_t* title = nullptr;
  HWND found = nullptr;
};

BOOL CALLBACK find_window_of_process(HWND window, LPARAM context) {
  auto* finder = reinterpret_cast<window_finder_t*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == finder->pid && text_of(window) == finder->title && ::IsWindowVisible(window)) {
    finder->found = window;
    return FALSE;
  }
  return TRUE;
}

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
      : m_store_env(L"CVOPS_STANDIN_STORE", m_store.name()),
        m_folder_env(L"CVUTRAIN_STANDIN_TEMPLATE_DIR", m_templates.path()),
        m_log_env(L"CVRUNDLL_STANDIN_LOG", m_log.path() + L"run.log") {
    m_window = ::CreateWindowExW(0, L"STATIC", L"notification", WS_POPUP, 0, 0, 10, 10, nullptr,
                                 nullptr, nullptr, nullptr);
  }
  ~TrainingMonitor() override { ::DestroyWindow(m_window); }

  // Starts the monitor as the notification window does and waits for it.
  DWORD run_monitor() {
    const support::unique_handle process =
        agent::start_training(filltest::program_folder(), m_window);
    EXPECT_EQ(::GetPriorityClass(process.get()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    wait(process.get());
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
  }

  // Waits for the process while this thread's windows keep getting their
  // messages (the broadcast reaches them while it runs).
  void wait(HANDLE process) {
    while (::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.hwnd == m_window)
          m_received.push_back(message.message);
        ::DispatchMessageW(&message);
      }
    }
    MSG message;
    while (::PeekMessageW(&message, m_window, 0, 0, PM_REMOVE))
      m_received.push_back(message.message);
  }

  bool received(const wchar_t* name) const {
    const UINT id = ::RegisterWindowMessageW(name);
    return std::find(m_received.begin(), m_received.end(), id) != m_received.end();
  }

  std::vector<std::string> log_lines() const {
    std::ifstream in((m_log.path() + L"run.log").c_str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }

  serialization::secure_wstring stored_text() const {
    const pstore::CProtectedStorage ps(beside_program(L"CvoPS.dll"));
    const pstore::handle_t h = ps.init();
    auto text = ps.query(h, nullptr);
    ps.term(h);
    return text;
  }

  pstest::scratch_store m_store;
  filltest::scratch_folder m_templates;
  filltest::scratch_folder m_log;
  scoped_environment m_store_env;
  scoped_environment m_folder_env;
  scoped_environment m_log_env;
  HWND m_window = nullptr;
  std::vector<UINT> m_received;
};

TEST_F(TrainingMonitor, ANewLogonGetsItsTemplateAndItsProfile) {
  scoped_environment script(kScript,
                            L"ok;name=Contoso Bank;address=bank.contoso.example/login;"
                            L"username=bob;password=pw-42");
  ASSERT_EQ(run_monitor(), static_cast<DWORD>(S_OK));

  // The host got exactly the command line.
  wchar_t handle[16];
  std::swprintf(handle, 16, L"0x%08X",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(m_window)));
  const std::string folder = templates::wide_to_utf8(filltest::program_folder());
  EXPECT_EQ(log_lines(), (std::vector<std::string>{
                             "arg[0]=" + folder + "CvRunDll.exe",
                             "arg[1]=" + folder + "CvUTrain.dll",
                             "arg[2]=dll_function_startmonitor",
                             "arg[3]=" + templates::wide_to_utf8(handle),
                             "result=0x00000000",
                         }));

  // Its template, in the user's folder, as the component reads templates.
  ASSERT_EQ(m_templates.files(), std::vector<std::wstring>{L"Contoso Bank.cvm"});
  templates::manifest_t manifest;
  ASSERT_TRUE(templates::loadM_properly(manifest, m_templates.path() + L"Contoso Bank.cvm"));
  ASSERT_EQ(manifest.forms.size(), 1u);
  EXPECT_EQ(manifest.forms[0].options.choosename, "Contoso Bank");
  EXPECT_EQ(manifest.forms[0].detection.web_qurl, "https://bank.contoso.example/login");
  ASSERT_EQ(manifest.forms[0].fields.size(), 3u);
  EXPECT_TRUE(manifest.forms[0].fields[1].password);
  const std::wstring id = templates::utf8_to_wide(manifest.descriptor.id);
  EXPECT_EQ(id.size(), 38u);

  // Its profile, in the store, with the password as a reference.
  const auto text = stored_text();
  const cvprofiles_t profiles = fill().get_profiles(id.c_str(), text.c_str());
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0].profilename, L"bob");
  EXPECT_EQ(profiles[0].qlinkname, L"Contoso Bank");
  EXPECT_EQ(item_value(profiles[0], "username"), L"bob");
  const std::wstring password = item_value(profiles[0], "password");
  ASSERT_TRUE(serialization::IsReference(password)) << templates::wide_to_utf8(password);
  EXPECT_EQ(text.view().find(L"pw-42"), std::wstring_view::npos);
  const pstore::CProtectedStorage ps(beside_program(L"CvoPS.dll"));
  const pstore::handle_t h = ps.init();
  EXPECT_EQ(ps.get_reference(h, std::wstring(serialization::ReferenceName(password)).c_str()),
            std::wstring_view(L"pw-42"));
  ps.term(h);

  // The consoles hear of it, and the one that asked is brought back.
  EXPECT_TRUE(received(L"WM_CV_PSTORAGE_UPDATED"));
  EXPECT_TRUE(received(L"WM_CV_FLM_RESTORE"));
}

TEST_F(TrainingMonitor, CancellingLeavesNothingBehind) {
  scoped_environment script(kScript, L"cancel");
  EXPECT_EQ(run_monitor(), static_cast<DWORD>(S_FALSE));
  EXPECT_TRUE(m_templates.files().empty());
  EXPECT_TRUE(stored_text().empty());
  EXPECT_FALSE(received(L"WM_CV_FLM_RESTORE"));
}

TEST_F(TrainingMonitor, AFailureOfTheMonitorIsTheExitCode) {
  scoped_environment script(kScript, L"ok;name=n;address=a");
  {
    filltest::standin_values faults(L"CvUTrain");
    faults.fail(L"dll_function_startmonitor", E_ACCESSDENIED);
    EXPECT_EQ(run_monitor(), static_cast<DWORD>(E_ACCESSDENIED));
  }
  // A profile that cannot be saved takes its template with it.
  filltest::standin_values faults(L"CvoPS");
  faults.fail(L"CVOPSSave", E_ACCESSDENIED);
  EXPECT_EQ(run_monitor(), static_cast<DWORD>(E_ACCESSDENIED));
  EXPECT_TRUE(m_templates.files().empty());
}

TEST_F(TrainingMonitor, TheMonitorsDialogTakesTheUsersAnswers) {
  ::SetEnvironmentVariableW(kScript, nullptr);
  const support::unique_handle process =
      agent::start_training(filltest::program_folder(), m_window);
  const DWORD pid = ::GetProcessId(process.get());
  HWND dialog = nullptr;
  for (int i = 0; i < 1500 && !dialog; ++i) {  // a generous bound, never a timing check
    window_finder_t finder{pid, L"New logon", nullptr};
    ::EnumWindows(find_window_of_process, reinterpret_cast<LPARAM>(&finder));
    dialog = finder.found;
    if (!dialog)
      ::Sleep(20);
  }
  ASSERT_NE(dialog, nullptr) << "the monitor showed no dialog";
  EXPECT_NE(
      ::GetWindowLongW(::GetDlgItem(dialog, CVUTRAIN_FIRST_EDIT_ID + 3), GWL_STYLE) & ES_PASSWORD,
      0);
  ::SetDlgItemTextW(dialog, CVUTRAIN_FIRST_EDIT_ID + 0, L"Typed Logon");
  ::SetDlgItemTextW(dialog, CVUTRAIN_FIRST_EDIT_ID + 1, L"https://typed.example/");
  ::SetDlgItemTextW(dialog, CVUTRAIN_FIRST_EDIT_ID + 2, L"carol");
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  wait(process.get());
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, static_cast<DWORD>(S_OK));
  EXPECT_EQ(m_templates.files(), std::vector<std::wstring>{L"Typed Logon.cvm"});
}

TEST(TrainingLaunch, AMissingHostIsRaisedWithTheSystemsError) {
  filltest::scratch_folder empty;
  try {
    agent::start_training(empty.path(), nullptr);
    ADD_FAILURE() << "started";
  } catch (const support::hresult_error& e) {
    EXPECT_EQ(e.code(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  }
}

}  // namespace
}  // namespace fillin
