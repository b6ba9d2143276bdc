// Buffers of the protected storage that may hold secrets are overwritten with
// zeros before they are freed. A malloc spy registered with COM looks at every
// task-memory block at the moment it is freed.
#include <windows.h>

#include <objbase.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "store/protected_storage.h"
#include "tests/support/free_spy.h"
#include "unit/store/protected_storage_test_support.h"

namespace {

using testsupport::bytes_t;

testsupport::free_spy g_spy;

bytes_t bytes_of(const std::wstring& text) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
  return bytes_t(bytes, bytes + text.size() * sizeof(wchar_t));
}

class ProtectedStorageWipe : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::CoRegisterMallocSpy(&g_spy), S_OK); }
  void TearDown() override { ::CoRevokeMallocSpy(); }

  pstest::scratch_store m_store;
};

TEST_F(ProtectedStorageWipe, SecretsAreCopiedThenZeroedThenFreed) {
  const pstore::CProtectedStorage ps(testsupport::program_file(L"CvoPS.dll"));
  const std::wstring text = L"profile text with secret 4711";
  const std::wstring value = L"reference value 0815";
  const std::string image = "image holding a password 1234";
  const pstore::handle_t h = ps.init();
  ps.save(h, text.c_str());
  ps.commit(h);
  const auto set_reference = reinterpret_cast<CVOPSSetReference_fn>(
      reinterpret_cast<void*>(::GetProcAddress(ps.module(), "CVOPSSetReference")));
  ASSERT_EQ(set_reference(h, L"ref", value.c_str()), S_OK);
  g_spy.take_freed();

  const struct {
    const char* call;
    std::function<bytes_t()> read;  // the copy the caller got
    bytes_t secret;
  } cases[] = {
      {"query", [&] { return bytes_of(std::wstring(ps.query(h, nullptr).view())); },
       bytes_of(text)},
      {"get_reference", [&] { return bytes_of(std::wstring(ps.get_reference(h, L"ref").view())); },
       bytes_of(value)},
      {"read_shared_profile",
       [&] {
         const std::wstring id = L"template";
         ps.entry_points().CVOPSWriteProfileToSharedStorage(
             h, &CVOPS_PROFILE_GUID, id.c_str(), static_cast<DWORD>(image.size()),
             reinterpret_cast<const BYTE*>(image.data()));
         g_spy.take_freed();
         const auto profile = ps.read_shared_profile(h);
         return bytes_t(profile.image.begin(), profile.image.end());
       },
       bytes_t(image.begin(), image.end())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(c.read(), c.secret);
    EXPECT_EQ(g_spy.wipe_failure(c.secret.data(), c.secret.size()), "");
  }
  ps.term(h);
}

}  // namespace
