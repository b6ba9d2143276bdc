// The protected-storage stand-in through its exported entry points: sessions,
// staged saves and commits, references, shared-storage slots, transactions,
// the encrypted file, injected faults, and other processes at the same time.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "store/protected_storage.h"
#include "templates/portable/manifest_text.h"
#include "unit/store/protected_storage_test_support.h"

namespace {

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kNoReference = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
const HRESULT kWrongState = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
const HRESULT kCorrupt = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
constexpr GUID kOtherProfile = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};

std::string narrow(const std::wstring& text) {
  return templates::wide_to_utf8(text);
}

class CvoPSStandIn : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const DWORD h : m_open)
      e().CVOPSTerm(h, CVOPS_TERM_DISCARD);
  }

  const pstore::entry_points_t& e() const { return m_ps.entry_points(); }

  DWORD open(DWORD access = CVOPS_ACCESS_READWRITE) {
    DWORD h = 0;
    EXPECT_EQ(e().CVOPSInitWithData(CVOPS_VERSION, &h, access, m_store.name().c_str()), S_OK);
    m_open.push_back(h);
    return h;
  }
  // The text CVOPSQuery gives, or "<hr>" when it fails.
  std::wstring query(DWORD h) {
    LPWSTR text = nullptr;
    const HRESULT hr = e().CVOPSQuery(h, nullptr, &text);
    if (FAILED(hr))
      return L"<" + std::to_wstring(hr) + L">";
    const std::wstring copy = text;
    ::CoTaskMemFree(text);
    return copy;
  }
  HRESULT save_and_commit(DWORD h, const wchar_t* text) {
    const HRESULT hr = e().CVOPSSave(h, text);
    return FAILED(hr) ? hr : e().CVOPSCommit(h);
  }
  HRESULT set_reference(DWORD h, const wchar_t* name, const wchar_t* value) {
    return m_set_reference(h, name, value);
  }
  std::wstring reference(DWORD h, const wchar_t* name, HRESULT expected = S_OK) {
    LPWSTR value = nullptr;
    EXPECT_EQ(e().CVOPSGetReference(h, name, &value), expected) << narrow(name);
    const std::wstring copy = value ? value : L"";
    ::CoTaskMemFree(value);
    return copy;
  }
  // The names, each followed by its zero, and the zero that ends the list
  // (an empty list reads as that one zero).
  std::wstring reference_names(DWORD h) {
    LPWSTR names = nullptr;
    EXPECT_EQ(e().CVOPSGetReferenceNames(h, &names), S_OK);
    if (!names)
      return L"<null>";
    const wchar_t* end = names;
    while (*end)
      end += wcslen(end) + 1;
    const std::wstring copy(static_cast<const wchar_t*>(names), end + 1);
    ::CoTaskMemFree(names);
    return copy;
  }
  // The template id and bytes of a slot, or the failure.
  std::string read_slot(DWORD h, const wchar_t* request, const GUID& profile) {
    LPWSTR id = nullptr;
    DWORD size = 0;
    BYTE* bytes = nullptr;
    const HRESULT hr =
        request ? e().CVOPSReadProfileFromSharedStorageEx(h, request, &profile, &id, &size, &bytes)
                : e().CVOPSReadProfileFromSharedStorage(h, &profile, &id, &size, &bytes);
    if (FAILED(hr))
      return "<" + std::to_string(hr) + ">";
    const std::string slot = narrow(id) + ":" + std::string(reinterpret_cast<char*>(bytes), size);
    ::CoTaskMemFree(id);
    ::CoTaskMemFree(bytes);
    return slot;
  }
  HRESULT write_slot(DWORD h,
                     const wchar_t* request,
                     const GUID& profile,
                     const std::string& data) {
    const auto* bytes = reinterpret_cast<const BYTE*>(data.data());
    const auto size = static_cast<DWORD>(data.size());
    return request
               ? e().CVOPSWriteProfileToSharedStorageEx(h, request, &profile, L"tid", size, bytes)
               : e().CVOPSWriteProfileToSharedStorage(h, &profile, L"tid", size, bytes);
  }
  bool file_exists() const {
    return ::GetFileAttributesW(m_store.file().c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  pstest::scratch_store m_store;
  pstore::CProtectedStorage m_ps{pstest::beside_program(L"CvoPS.dll")};
  CVOPSSetReference_fn m_set_reference = reinterpret_cast<CVOPSSetReference_fn>(
      reinterpret_cast<void*>(::GetProcAddress(m_ps.module(), "CVOPSSetReference")));
  std::vector<DWORD> m_open;
};

TEST_F(CvoPSStandIn, SavesAreStagedUntilCommitted) {
  const DWORD a = open();
  const DWORD b = open();
  ASSERT_EQ(e().CVOPSSave(a, L"one"), S_OK);
  EXPECT_EQ(query(a), L"one");
  EXPECT_EQ(query(b), L"");
  EXPECT_FALSE(file_exists());
  ASSERT_EQ(e().CVOPSCommit(a), S_OK);
  EXPECT_TRUE(file_exists());
  EXPECT_EQ(query(b), L"one");
  EXPECT_EQ(e().CVOPSCommit(b), S_OK);  // nothing staged
  EXPECT_EQ(query(a), L"one");
}

TEST_F(CvoPSStandIn, TermDropsOrCommitsWhatIsStaged) {
  const DWORD a = open();
  ASSERT_EQ(e().CVOPSSave(a, L"dropped"), S_OK);
  EXPECT_EQ(e().CVOPSTerm(a, CVOPS_TERM_DISCARD), S_OK);
  const DWORD b = open();
  EXPECT_EQ(query(b), L"");
  ASSERT_EQ(e().CVOPSSave(b, L"kept"), S_OK);
  EXPECT_EQ(e().CVOPSTerm(b, CVOPS_TERM_COMMIT), S_OK);
  EXPECT_EQ(query(open()), L"kept");
  EXPECT_EQ(e().CVOPSTerm(b, CVOPS_TERM_DISCARD), E_HANDLE);
  EXPECT_EQ(e().CVOPSCommit(b), E_HANDLE);
  EXPECT_EQ(e().CVOPSTerm(open(), 7), E_INVALIDARG);
}

TEST_F(CvoPSStandIn, ReadOnlySessionsOnlyRead) {
  const DWORD w = open();
  ASSERT_EQ(save_and_commit(w, L"text"), S_OK);
  ASSERT_EQ(write_slot(w, nullptr, CVOPS_PROFILE_GUID, "image"), S_OK);
  const DWORD r = open(CVOPS_ACCESS_READ);
  EXPECT_EQ(e().CVOPSSave(r, L"no"), E_ACCESSDENIED);
  EXPECT_EQ(set_reference(r, L"n", L"v"), E_ACCESSDENIED);
  EXPECT_EQ(write_slot(r, nullptr, kOtherProfile, "no"), E_ACCESSDENIED);
  EXPECT_EQ(query(r), L"text");
  // A read-only session leaves the slot where it is; a read-write one takes it.
  EXPECT_EQ(read_slot(r, nullptr, CVOPS_PROFILE_GUID), "tid:image");
  EXPECT_EQ(read_slot(r, nullptr, CVOPS_PROFILE_GUID), "tid:image");
  EXPECT_EQ(read_slot(w, nullptr, CVOPS_PROFILE_GUID), "tid:image");
  EXPECT_EQ(read_slot(r, nullptr, CVOPS_PROFILE_GUID), "<" + std::to_string(kNotFound) + ">");
}

TEST_F(CvoPSStandIn, ReferencesAreStagedAndMergedByName) {
  const DWORD a = open();
  const DWORD b = open();
  EXPECT_EQ(reference_names(a), std::wstring(1, L'\0'));
  ASSERT_EQ(set_reference(a, L"x", L"1"), S_OK);
  EXPECT_EQ(reference(a, L"x"), L"1");
  reference(b, L"x", kNoReference);
  ASSERT_EQ(set_reference(b, L"y", L"2"), S_OK);
  ASSERT_EQ(e().CVOPSCommit(a), S_OK);
  ASSERT_EQ(e().CVOPSCommit(b), S_OK);
  EXPECT_EQ(reference_names(b), std::wstring(L"x\0y\0\0", 5));
  EXPECT_EQ(reference(b, L"x"), L"1");

  ASSERT_EQ(set_reference(a, L"x", nullptr), S_OK);
  reference(a, L"x", kNoReference);
  EXPECT_EQ(reference_names(a), std::wstring(L"y\0\0", 3));
  EXPECT_EQ(reference(b, L"x"), L"1");
  ASSERT_EQ(e().CVOPSCommit(a), S_OK);
  reference(b, L"x", kNoReference);

  // The profile text is one value: the later commit wins.
  ASSERT_EQ(e().CVOPSSave(a, L"A"), S_OK);
  ASSERT_EQ(e().CVOPSSave(b, L"B"), S_OK);
  ASSERT_EQ(e().CVOPSCommit(a), S_OK);
  ASSERT_EQ(e().CVOPSCommit(b), S_OK);
  EXPECT_EQ(query(a), L"B");
}

TEST_F(CvoPSStandIn, SharedSlotsAreKeyedByRequestAndProfileAndTakenOnce) {
  const DWORD a = open();
  const DWORD b = open();
  ASSERT_EQ(write_slot(a, CVOPS_REQUEST_ID, CVOPS_PROFILE_GUID, "request"), S_OK);
  ASSERT_EQ(write_slot(a, nullptr, CVOPS_PROFILE_GUID, "old"), S_OK);
  ASSERT_EQ(write_slot(a, nullptr, CVOPS_PROFILE_GUID, "agent"), S_OK);
  ASSERT_EQ(write_slot(a, CVOPS_REQUEST_ID, kOtherProfile, "other"), S_OK);
  const std::string none = "<" + std::to_string(kNotFound) + ">";
  EXPECT_EQ(read_slot(b, L"{595136b5-2ab8-4aba-9d78-e3ea8cb02090}", CVOPS_PROFILE_GUID),
            "tid:request");
  EXPECT_EQ(read_slot(b, CVOPS_REQUEST_ID, CVOPS_PROFILE_GUID), none);
  EXPECT_EQ(read_slot(b, nullptr, CVOPS_PROFILE_GUID), "tid:agent");
  EXPECT_EQ(read_slot(b, nullptr, CVOPS_PROFILE_GUID), none);
  EXPECT_EQ(read_slot(b, nullptr, kOtherProfile), none);
  EXPECT_EQ(read_slot(b, CVOPS_REQUEST_ID, kOtherProfile), "tid:other");
  EXPECT_EQ(write_slot(a, nullptr, kOtherProfile, ""), S_OK);
  EXPECT_EQ(read_slot(a, L"", kOtherProfile), "tid:");
}

TEST_F(CvoPSStandIn, ATransactionBelongsToItsThread) {
  const DWORD a = open();
  EXPECT_EQ(e().CVOPSEndTransaction(a, CVOPS_END_COMMIT), kWrongState);
  ASSERT_EQ(e().CVOPSBeginTransaction(a), S_OK);
  EXPECT_EQ(e().CVOPSBeginTransaction(a), kWrongState);
  HRESULT elsewhere = S_OK;
  std::thread([&] { elsewhere = e().CVOPSEndTransaction(a, CVOPS_END_COMMIT); }).join();
  EXPECT_EQ(elsewhere, HRESULT_FROM_WIN32(ERROR_NOT_OWNER));
  ASSERT_EQ(e().CVOPSSave(a, L"rolled back"), S_OK);
  EXPECT_EQ(e().CVOPSEndTransaction(a, CVOPS_END_ROLLBACK), S_OK);
  EXPECT_EQ(query(a), L"");
  EXPECT_FALSE(file_exists());

  ASSERT_EQ(e().CVOPSBeginTransaction(a), S_OK);
  ASSERT_EQ(e().CVOPSSave(a, L"committed"), S_OK);
  EXPECT_EQ(e().CVOPSEndTransaction(a, CVOPS_END_COMMIT), S_OK);
  EXPECT_EQ(query(open()), L"committed");
}

TEST_F(CvoPSStandIn, TheFileIsEncryptedForTheUser) {
  const std::wstring secret = L"P4ssw0rd-in-the-profile";
  const DWORD a = open();
  ASSERT_EQ(set_reference(a, L"r", secret.c_str()), S_OK);
  ASSERT_EQ(save_and_commit(a, secret.c_str()), S_OK);
  const auto bytes = m_store.file_bytes();
  ASSERT_FALSE(bytes.empty());
  const std::string wide(reinterpret_cast<const char*>(secret.data()), secret.size() * 2);
  const std::string file(bytes.begin(), bytes.end());
  EXPECT_EQ(file.find(wide), std::string::npos);
  EXPECT_EQ(file.find(narrow(secret)), std::string::npos);
  EXPECT_EQ(query(open()), secret);
}

TEST_F(CvoPSStandIn, ACorruptFileIsReportedAndLeftAlone) {
  const DWORD a = open();
  ASSERT_EQ(save_and_commit(a, L"good"), S_OK);
  const HANDLE file =
      ::CreateFileW(m_store.file().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ::WriteFile(file, "garbage!", 8, &done, nullptr);
  ::CloseHandle(file);

  EXPECT_EQ(query(a), L"<" + std::to_wstring(kCorrupt) + L">");
  EXPECT_EQ(save_and_commit(a, L"over it"), kCorrupt);
  EXPECT_EQ(write_slot(a, nullptr, CVOPS_PROFILE_GUID, "x"), kCorrupt);
  const auto bytes = m_store.file_bytes();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "garbage!");
}

TEST_F(CvoPSStandIn, EveryEntryPointTakesAnInjectedFailureWithoutEffect) {
  const DWORD h = open();
  DWORD out = 0;
  LPWSTR text = nullptr;
  DWORD size = 0;
  BYTE* bytes = nullptr;
  const GUID* profile = &CVOPS_PROFILE_GUID;
  const wchar_t* store = m_store.name().c_str();
  const struct {
    const wchar_t* entry_point;
    std::function<HRESULT()> run;
  } cases[] = {
      {L"CVOPSInit", [&] { return e().CVOPSInit(1, &out, 1); }},
      {L"CVOPSInitWithData", [&] { return e().CVOPSInitWithData(1, &out, 1, store); }},
      {L"CVOPSTerm", [&] { return e().CVOPSTerm(h, CVOPS_TERM_COMMIT); }},
      {L"CVOPSQuery", [&] { return e().CVOPSQuery(h, nullptr, &text); }},
      {L"CVOPSSave", [&] { return e().CVOPSSave(h, L"no"); }},
      {L"CVOPSCommit", [&] { return e().CVOPSCommit(h); }},
      {L"CVOPSGetReferenceNames", [&] { return e().CVOPSGetReferenceNames(h, &text); }},
      {L"CVOPSGetReference", [&] { return e().CVOPSGetReference(h, L"r", &text); }},
      {L"CVOPSSetReference", [&] { return m_set_reference(h, L"r", L"no"); }},
      {L"CVOPSGetUserName", [&] { return e().CVOPSGetUserName(h, &text); }},
      {L"CVOPSBeginTransaction", [&] { return e().CVOPSBeginTransaction(h); }},
      {L"CVOPSEndTransaction", [&] { return e().CVOPSEndTransaction(h, CVOPS_END_COMMIT); }},
      {L"CVOPSWriteProfileToSharedStorage",
       [&] { return e().CVOPSWriteProfileToSharedStorage(h, profile, L"t", 0, nullptr); }},
      {L"CVOPSReadProfileFromSharedStorage",
       [&] { return e().CVOPSReadProfileFromSharedStorage(h, profile, &text, &size, &bytes); }},
      {L"CVOPSWriteProfileToSharedStorageEx",
       [&] { return e().CVOPSWriteProfileToSharedStorageEx(h, L"r", profile, L"t", 0, nullptr); }},
      {L"CVOPSReadProfileFromSharedStorageEx",
       [&] {
         return e().CVOPSReadProfileFromSharedStorageEx(h, L"r", profile, &text, &size, &bytes);
       }},
      {L"dll_function_brrfromps", [&] { return e().dll_function_brrfromps(nullptr); }},
  };
  HRESULT code = static_cast<HRESULT>(0x8004C101);
  for (const auto& c : cases) {
    pstest::fault_scratch faults;
    faults.fail(c.entry_point, ++code);
    EXPECT_EQ(c.run(), code) << narrow(c.entry_point);
  }
  // Nothing was opened, staged, written or ended by the failed calls.
  EXPECT_EQ(query(h), L"");
  EXPECT_EQ(reference_names(h), std::wstring(1, L'\0'));
  EXPECT_FALSE(file_exists());
  EXPECT_EQ(e().dll_function_brrfromps(nullptr), S_OK);
  pstest::fault_scratch refusal;
  refusal.fail(L"dll_function_brrfromps", S_FALSE);
  EXPECT_EQ(e().dll_function_brrfromps(nullptr), S_FALSE);
}

TEST_F(CvoPSStandIn, TwoProcessesCommittingAtOnceLoseNothing) {
  constexpr int kRounds = 20;
  const std::wstring arguments = L"\"" + m_store.name() + L"\" ";
  DWORD codes[2] = {1, 1};
  std::thread first([&] {
    codes[0] = pstest::run_child(L"commit-loop " + arguments + L"A " + std::to_wstring(kRounds));
  });
  std::thread second([&] {
    codes[1] = pstest::run_child(L"commit-loop " + arguments + L"B " + std::to_wstring(kRounds));
  });
  first.join();
  second.join();
  ASSERT_EQ(codes[0], 0u);
  ASSERT_EQ(codes[1], 0u);

  const DWORD h = open(CVOPS_ACCESS_READ);
  std::wistringstream lines(query(h));
  std::vector<std::wstring> seen[2];
  for (std::wstring line; std::getline(lines, line);)
    seen[line[0] == L'B'].push_back(line);
  for (int child = 0; child < 2; ++child) {
    std::vector<std::wstring> expected;
    for (int round = 0; round < kRounds; ++round)
      expected.push_back(std::wstring(1, L"AB"[child]) + L"-" + std::to_wstring(round));
    EXPECT_EQ(seen[child], expected);
    for (const auto& line : expected)
      EXPECT_EQ(reference(h, line.c_str()), L"value of " + line);
  }
}

TEST_F(CvoPSStandIn, ACrashBeforeTheCommitEndsLosesNothingCommitted) {
  const DWORD a = open();
  ASSERT_EQ(set_reference(a, L"kept", L"kept value"), S_OK);
  ASSERT_EQ(save_and_commit(a, L"committed"), S_OK);
  const std::wstring store = L"\"" + m_store.name() + L"\" ";
  EXPECT_EQ(pstest::run_child(L"save-then-die " + store + L"staged"), 66u);
  EXPECT_EQ(pstest::run_child(L"crash-in-commit " + store + L"half-written"), 77u);
  EXPECT_EQ(query(a), L"committed");
  EXPECT_EQ(reference(a, L"kept"), L"kept value");
  reference(a, L"staged", kNoReference);
  // The next commit replaces what the crash left beside the store.
  ASSERT_EQ(save_and_commit(a, L"after"), S_OK);
  EXPECT_EQ(query(open()), L"after");
  EXPECT_EQ(::GetFileAttributesW((m_store.file() + L".new").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
