// The protected-storage loader against real libraries: one that lacks an entry
// point and the stand-in. (How the process's libraries are found in the
// component folder, once, is the fill-in loader tests'.)
#define SECURITY_WIN32
#include <windows.h>

#include <security.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/protected_storage.h"
#include "support/hresult.h"
#include "templates/portable/manifest_text.h"
#include "unit/store/protected_storage_test_support.h"

namespace {

using pstore::CProtectedStorage;
using pstore::handle_t;

// The calls of the loader, each made once.
struct wrapper_call_t {
  const wchar_t* entry_point;
  std::function<void(const CProtectedStorage&, handle_t)> call;
};

const std::vector<wrapper_call_t>& wrapper_calls() {
  static const std::vector<wrapper_call_t> calls = {
      {L"CVOPSInit", [](const CProtectedStorage& ps, handle_t) { ps.init(); }},
      {L"CVOPSQuery", [](const CProtectedStorage& ps, handle_t h) { ps.query(h, nullptr); }},
      {L"CVOPSSave", [](const CProtectedStorage& ps, handle_t h) { ps.save(h, L"x"); }},
      {L"CVOPSCommit", [](const CProtectedStorage& ps, handle_t h) { ps.commit(h); }},
      {L"CVOPSGetReference",
       [](const CProtectedStorage& ps, handle_t h) { ps.get_reference(h, L"name"); }},
      {L"CVOPSGetUserName", [](const CProtectedStorage& ps, handle_t h) { ps.user_name(h); }},
      {L"CVOPSReadProfileFromSharedStorage",
       [](const CProtectedStorage& ps, handle_t h) { ps.read_shared_profile(h); }},
      {L"CVOPSWriteProfileToSharedStorageEx",
       [](const CProtectedStorage& ps, handle_t h) { ps.write_shared_profile(h, L"t", "ab", 2); }},
  };
  return calls;
}

// Libraries that do not load: the fill-in loader's test (the loaders share the
// loading) and the process library's below.
TEST(ProtectedStorageLoader, AMissingEntryPointFailsEveryUseWithThePath) {
  const std::wstring path = testsupport::program_file(L"CvoPS_partial.dll");
  const CProtectedStorage ps(path);
  EXPECT_FALSE(ps.resolved());
  const std::string message = "Unresolved functions in '" + templates::wide_to_utf8(path) + "'";
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : wrapper_calls()) {
      SCOPED_TRACE(templates::wide_to_utf8(c.entry_point));
      try {
        c.call(ps, 1);
        ADD_FAILURE() << "called";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), message);
      }
    }
    EXPECT_THROW(ps.entry_points(), std::runtime_error);
    ps.term(1);  // swallowed
  }
}

class ProtectedStorageOverStandIn : public ::testing::Test {
 protected:
  template <typename Fn>
  Fn extra(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_ps.module(), name)));
  }

  pstest::scratch_store m_store;
  CProtectedStorage m_ps{testsupport::program_file(L"CvoPS.dll")};
};

TEST_F(ProtectedStorageOverStandIn, EveryCallReachesTheStore) {
  ASSERT_TRUE(m_ps.resolved());
  const handle_t h = m_ps.init();
  m_ps.save(h, L"profile text");
  m_ps.commit(h);
  EXPECT_EQ(m_ps.query(h, nullptr).view(), L"profile text");
  ASSERT_EQ(extra<CVOPSSetReference_fn>("CVOPSSetReference")(h, L"pw-1", L"secret"), S_OK);
  EXPECT_EQ(m_ps.get_reference(h, L"pw-1").view(), L"secret");
  wchar_t account[256];
  ULONG length = 256;
  ASSERT_TRUE(::GetUserNameExW(NameSamCompatible, account, &length));
  EXPECT_EQ(m_ps.user_name(h), account);

  // The request goes where the agent reads it: under the fixed identifiers.
  m_ps.write_shared_profile(h, L"template-7", "\x01\x02\x03", 3);
  LPWSTR id = nullptr;
  DWORD size = 0;
  BYTE* bytes = nullptr;
  ASSERT_EQ(
      m_ps.entry_points().CVOPSReadProfileFromSharedStorageEx(
          h, L"{595136b5-2ab8-4aba-9d78-e3ea8cb02090}", &CVOPS_PROFILE_GUID, &id, &size, &bytes),
      S_OK);
  EXPECT_STREQ(id, L"template-7");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), size), "\x01\x02\x03");
  ::CoTaskMemFree(id);
  ::CoTaskMemFree(bytes);
  // (The profile the agent leaves is read back by the dashboard storage tests.)
  m_ps.term(h);
  m_ps.term(h);  // a second time: E_HANDLE, swallowed
}

TEST_F(ProtectedStorageOverStandIn, FailedResultsAreRaisedWithTheirCode) {
  const handle_t h = m_ps.init();
  testsupport::standin_faults_t faults(L"CvoPS");
  HRESULT code = static_cast<HRESULT>(0x8004C001);
  for (const auto& c : wrapper_calls()) {
    SCOPED_TRACE(templates::wide_to_utf8(c.entry_point));
    faults.fail(c.entry_point, ++code);
    try {
      c.call(m_ps, h);
      ADD_FAILURE() << "no failure raised";
    } catch (const support::hresult_error& e) {
      EXPECT_EQ(e.code(), code);
    }
  }
  faults.fail(L"CVOPSTerm", E_FAIL);
  m_ps.term(h);  // swallowed
}

TEST_F(ProtectedStorageOverStandIn, AFaultInsideTermIsContained) {
  const handle_t h = m_ps.init();
  {
    testsupport::standin_faults_t faults(L"CvoPS");
    faults.crash(L"CVOPSTerm");
    m_ps.term(h);  // an access violation inside the library
  }
  // The process lives on and so does the library.
  const handle_t next = m_ps.init();
  m_ps.save(next, L"after the fault");
  EXPECT_EQ(m_ps.query(next, nullptr).view(), L"after the fault");
  m_ps.term(next);
}

TEST_F(ProtectedStorageOverStandIn, ReferenceValuesResolveThroughTheSession) {
  const handle_t h = m_ps.init();
  ASSERT_EQ(extra<CVOPSSetReference_fn>("CVOPSSetReference")(h, L"pw 7", L"s3cret!"), S_OK);
  pstore::CProtectedStorageResolver resolver(m_ps, h);
  EXPECT_EQ(serialization::ResolveValue(L"550-08-60 pw 7", resolver).view(), L"s3cret!");
  EXPECT_THROW(serialization::ResolveValue(L"550-08-60 unknown", resolver), support::hresult_error);
  m_ps.term(h);
}

}  // namespace
