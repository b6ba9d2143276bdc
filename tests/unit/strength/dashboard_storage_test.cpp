// The dashboard storage against the protected-storage and fill-in stand-ins:
// the template list cache, the two refreshes and the object's session.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "store/dashboard_storage.h"
#include "support/com.h"
#include "support/hresult.h"
#include "tests/support/traced_test_main.h"
#include "tests/unit/store/protected_storage_test_support.h"
#include "tests/unit/strength/strength_test_support.h"

namespace dashboard {
namespace {

using strengthtest::page_window_t;

// The lookup the cache reads, counted.
std::vector<std::wstring> g_paths;
int g_lookups = 0;
bool g_lookup_fails = false;
void counted_lookup(std::vector<std::wstring>& paths) {
  ++g_lookups;
  if (g_lookup_fails)
    THROW_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  paths = g_paths;
}

bool traced(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line.find(text) != std::string::npos)
      return true;
  return false;
}

std::vector<std::wstring> list_of(IDashBoardStorage* storage) {
  support::unique_variant list;
  EXPECT_EQ(storage->GetManifestList(list.get()), S_OK);
  EXPECT_EQ(list->vt, VT_ARRAY | VT_BSTR);
  std::vector<std::wstring> paths;
  BSTR* items = nullptr;
  ::SafeArrayAccessData(list->parray, reinterpret_cast<void**>(&items));
  for (ULONG i = 0; i < list->parray->rgsabound[0].cElements; ++i)
    paths.emplace_back(items[i], ::SysStringLen(items[i]));
  ::SafeArrayUnaccessData(list->parray);
  return paths;
}

class DashboardStorage : public ::testing::Test {
 protected:
  DashboardStorage() {
    g_paths = {m_folder.path() + L"a.cvm", m_folder.path() + L"b.cvm"};
    g_lookups = 0;
    g_lookup_fails = false;
    set_manifest_lookup(counted_lookup);
    EXPECT_EQ(OpenDashBoardStorage(m_storage.put()), S_OK);
    testsupport::new_trace_lines();
  }
  ~DashboardStorage() override { set_manifest_lookup(nullptr); }

  testsupport::scoped_component_folder_t m_components{testsupport::program_file(L"")};
  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_folder;
  support::com_ptr<IDashBoardStorage> m_storage;
  page_window_t m_page;
};

TEST_F(DashboardStorage, TheListIsReadOnceAndAgainOnlyForAnUnknownRemoval) {
  EXPECT_EQ(list_of(m_storage.get()), g_paths);
  EXPECT_EQ(list_of(m_storage.get()), g_paths);
  EXPECT_EQ(g_lookups, 1);

  EXPECT_EQ(m_storage->RemoveManifest(g_paths[0].c_str()), S_OK);
  EXPECT_EQ(list_of(m_storage.get()), std::vector<std::wstring>{g_paths[1]});
  EXPECT_EQ(g_lookups, 1);
  EXPECT_EQ(m_storage->RemoveManifest(L"C:\\elsewhere\\x.cvm"), S_OK);
  EXPECT_EQ(list_of(m_storage.get()), g_paths);
  EXPECT_EQ(g_lookups, 2);

  DWORD handle = 0;
  EXPECT_EQ(m_storage->GetStorageHandle(&handle), S_OK);
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(m_storage->GetStorageHandle(nullptr), E_POINTER);
  EXPECT_EQ(m_storage->RemoveManifest(nullptr), E_POINTER);
  support::com_ptr<IUnknown> other;
  EXPECT_EQ(m_storage->QueryInterface(IID_IDispatch, other.put_void()), E_NOINTERFACE);
}

TEST_F(DashboardStorage, ARefreshTellsThePagesOnlyOfAChange) {
  EXPECT_FALSE(RefreshManifestList(m_page.get()));  // a fresh cache always reports a change
  EXPECT_TRUE(RefreshManifestList(m_page.get()));
  g_paths.pop_back();
  EXPECT_FALSE(RefreshManifestList(m_page.get()));
  g_lookup_fails = true;
  EXPECT_TRUE(RefreshManifestList(m_page.get()));  // kept, nothing said
  g_lookup_fails = false;
  EXPECT_EQ(list_of(m_storage.get()), g_paths);

  ASSERT_EQ(strengthtest::g_notices.size(), 2u);
  for (const auto& notice : strengthtest::g_notices) {
    EXPECT_EQ(notice.code, kNotifyStorageChanged);
    EXPECT_EQ(notice.size, sizeof(change_record_t));
    EXPECT_EQ(notice.path, L"");
  }
  const auto lines = testsupport::new_trace_lines();
  EXPECT_TRUE(traced(lines, "U RefreshManifestList Manifest list changed"));
  EXPECT_TRUE(traced(lines, "U RefreshManifestList Manifest list did not change"));
  EXPECT_TRUE(traced(lines, "E RefreshManifestList -2147024894"));
}

TEST_F(DashboardStorage, WorkersAlwaysSeeAWholeList) {
  const std::vector<std::wstring> one = g_paths, two = {L"C:\\t\\only.cvm"};
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      const auto copy = GetManifestFileList(false);
      if (copy != one && copy != two)
        ++torn;
    }
  });
  for (int i = 0; i < 300; ++i) {
    g_paths = i % 2 ? one : two;  // the lookup runs on this thread only
    RefreshManifestList(m_page.get());
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

TEST_F(DashboardStorage, TheLastReleaseEndsTheSessionOnceEvenWhenTheLibraryFaults) {
  testsupport::standin_faults_t faults(L"CvoPS");
  faults.crash(L"CVOPSTerm");
  support::com_ptr<IDashBoardStorage> second;
  ASSERT_EQ(m_storage->QueryInterface(IID_IDashBoardStorage, second.put_void()), S_OK);
  m_storage.reset();
  EXPECT_TRUE(testsupport::new_trace_lines().empty());  // still held
  second.reset();
  int faults_traced = 0;
  const auto lines = testsupport::new_trace_lines();
  for (const auto& line : lines)
    faults_traced += line.find("CVOPSTerm: fault 0xC0000005") != std::string::npos;
  EXPECT_EQ(faults_traced, 1) << ::testing::PrintToString(lines);
}

// The agent leaves a profile for template `id` in the shared storage.
void leave_shared_profile(const std::wstring& id, const serialization::cvprofile_t& record) {
  serialization::memoryblock_T<serialization::aloocator_cpp> image;
  serialization::SaveProfileImage(record, image);
  // The slot without a request identifier, as the agent leaves it.
  const pstore::CProtectedStorage& ps = pstore::protected_storage();
  const pstore::handle_t h = ps.init();
  EXPECT_EQ(
      ps.entry_points().CVOPSWriteProfileToSharedStorageEx(
          h, L"", &CVOPS_PROFILE_GUID, id.c_str(), static_cast<DWORD>(image.size()), image.data()),
      S_OK);
  ps.term(h);
}

std::vector<std::wstring> stored_names(const std::wstring& id) {
  std::vector<std::wstring> names;
  for (const auto& r :
       fillin::fillin_component().get_profiles(id.c_str(), strengthtest::stored_text().c_str()))
    names.push_back(r.profilename);
  return names;
}

TEST_F(DashboardStorage, ASharedProfileIsMergedSavedAndAnnounced) {
  using strengthtest::account;
  g_paths = {strengthtest::write_template(m_folder.path(), "{A}", "alpha"),
             strengthtest::write_template(m_folder.path(), "{B}", "beta", "")};
  strengthtest::store_profiles(
      L"{A}", {account(1, L"one", L"u1", L"p1"), account(2, L"two", L"u2", L"p2")});

  // Nothing left by the agent.
  EXPECT_EQ(RefreshProfileFromGlobal(m_page.get(), m_storage.get()),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

  // "10.0" sorts between "1.0" and "2.0"; the same key replaces.
  leave_shared_profile(L"{A}", account(10, L"ten", L"u10", L"p10"));
  EXPECT_EQ(RefreshProfileFromGlobal(m_page.get(), m_storage.get()), S_OK);
  leave_shared_profile(L"{A}", account(1, L"uno", L"u1", L"p1b"));
  EXPECT_EQ(RefreshProfileFromGlobal(m_page.get(), m_storage.get()), S_OK);
  EXPECT_EQ(stored_names(L"{A}"), (std::vector<std::wstring>{L"uno", L"ten", L"two"}));
  ASSERT_EQ(strengthtest::g_notices.size(), 2u);
  EXPECT_EQ(strengthtest::g_notices[1].path, g_paths[0]);
  EXPECT_EQ(strengthtest::g_notices[1].profile, L"uno");
  auto lines = testsupport::new_trace_lines();
  EXPECT_TRUE(traced(lines, "Manifest ID: {A}"));
  EXPECT_TRUE(traced(lines, "Profile name is uno"));

  // No name and a template without a label for field 0: "Account".
  leave_shared_profile(L"{B}", account(0, L"", L"u", L"p"));
  EXPECT_EQ(RefreshProfileFromGlobal(m_page.get(), m_storage.get()), S_OK);
  EXPECT_EQ(stored_names(L"{B}"), std::vector<std::wstring>{L"Account"});
  EXPECT_TRUE(traced(testsupport::new_trace_lines(), "empty profile name for "));

  // A template id no template has: nothing saved.
  const auto before = strengthtest::stored_text();
  leave_shared_profile(L"{C}", account(0, L"x", L"u", L"p"));
  EXPECT_EQ(RefreshProfileFromGlobal(m_page.get(), m_storage.get()), E_UNEXPECTED);
  EXPECT_TRUE(traced(testsupport::new_trace_lines(), "Manifest file not found!"));
  EXPECT_EQ(strengthtest::stored_text(), before);
  EXPECT_EQ(strengthtest::g_notices.size(), 3u);
}

// Any failure of the components, or a slot that holds no record: its HRESULT,
// nothing saved, nothing announced.
TEST_F(DashboardStorage, FailuresOfTheComponentsSaveNothing) {
  using strengthtest::account;
  g_paths = {strengthtest::write_template(m_folder.path(), "{A}", "alpha")};
  strengthtest::store_profiles(L"{A}", {account(1, L"one", L"u1", L"p1")});
  const auto before = strengthtest::stored_text();
  const struct {
    const wchar_t* library;
    const wchar_t* entry;
  } faults[] = {{L"CvoPS", L"CVOPSQuery"},
                {L"CvoPS", L"CVOPSReadProfileFromSharedStorage"},
                {L"CvoPS", L"CVOPSSave"},
                {L"CvFillin", L"dll_function_get_profiles"},
                {L"CvFillin", L"dll_function_update_profiles"}};
  for (const auto& f : faults) {
    SCOPED_TRACE(templates::wide_to_utf8(f.entry));
    leave_shared_profile(L"{A}", account(2, L"two", L"u2", L"p2"));
    testsupport::standin_faults_t injected(f.library);
    injected.fail(f.entry, E_ACCESSDENIED);
    EXPECT_EQ(RefreshProfileFromGlobal(m_page.get(), m_storage.get()), E_ACCESSDENIED);
  }
  // An image that is no record.
  const pstore::CProtectedStorage& ps = pstore::protected_storage();
  const pstore::handle_t h = ps.init();
  const BYTE junk[] = {1, 2, 3, 4};
  ps.entry_points().CVOPSWriteProfileToSharedStorageEx(h, L"", &CVOPS_PROFILE_GUID, L"{A}",
                                                       sizeof junk, junk);
  ps.term(h);
  EXPECT_EQ(RefreshProfileFromGlobal(m_page.get(), m_storage.get()),
            HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  EXPECT_EQ(strengthtest::stored_text(), before);
  EXPECT_TRUE(strengthtest::g_notices.empty());
}

}  // namespace
}  // namespace dashboard
