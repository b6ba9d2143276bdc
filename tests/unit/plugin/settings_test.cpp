// The settings readers and writers against a settings library of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "plugin/settings.h"
#include "support/hresult.h"
#include "tests/support/traced_test_main.h"

namespace plugin {
namespace {

std::map<std::wstring, std::wstring> g_values;
std::map<std::wstring, HRESULT> g_set_failures;
std::wstring g_last_set;

HRESULT WINAPI fake_query(SETTINGS_QUERY_REQUEST* request) {
  const std::wstring name(request->name, ::SysStringLen(request->name));
  if (request->size != 12)
    return E_INVALIDARG;
  if (name == L"throws_hresult")
    throw support::hresult_error(E_ACCESSDENIED);
  if (name == L"throws_other")
    throw 42;
  if (name == L"faults")  // a broken library
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  const auto it = g_values.find(name);
  if (it == g_values.end())
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  *request->result = ::SysAllocString(it->second.c_str());
  return S_OK;
}

HRESULT WINAPI fake_set(SETTINGS_SET_REQUEST* request) {
  const std::wstring name(request->name, ::SysStringLen(request->name));
  if (name == L"throws_other")
    throw 42;
  const auto failure = g_set_failures.find(name);
  if (failure != g_set_failures.end())
    return failure->second;
  g_last_set = name + L"=" + std::wstring(request->value, ::SysStringLen(request->value));
  return S_OK;
}

const settings_api_t kApi{nullptr, fake_query, fake_set};
const settings_api_t kNoLibrary{};

TEST(Settings, TypedReaders) {
  g_values = {
      {L"name", L"text value"}, {L"on", L"2"}, {L"off", L"-1"}, {L"zero", L"0"}, {L"word", L"yes"}};
  std::wstring text;
  EXPECT_EQ(read_setting_string(kApi, L"name", text), S_OK);
  EXPECT_EQ(text, L"text value");
  bool flag = false;
  EXPECT_EQ(read_setting_boolean(kApi, L"on", flag), S_OK);
  EXPECT_TRUE(flag);
  EXPECT_EQ(read_setting_boolean(kApi, L"off", flag), S_OK);
  EXPECT_FALSE(flag);
  flag = true;
  EXPECT_EQ(read_setting_boolean(kApi, L"zero", flag), E_INVALIDARG);
  EXPECT_FALSE(flag);
  EXPECT_EQ(read_setting_boolean(kApi, L"word", flag), E_INVALIDARG);
  EXPECT_EQ(read_setting_boolean(kApi, L"missing", flag), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST(Settings, FailuresOfTheLibraryBecomeResults) {
  std::wstring text = L"unchanged";
  EXPECT_EQ(read_setting_string(kNoLibrary, L"name", text), E_NOTIMPL);
  EXPECT_EQ(read_setting_string(kApi, L"throws_hresult", text), E_ACCESSDENIED);
  EXPECT_EQ(read_setting_string(kApi, L"throws_other", text), E_UNEXPECTED);
  testsupport::new_trace_lines();
  EXPECT_EQ(read_setting_string(kApi, L"faults", text), E_UNEXPECTED);
  const auto lines = testsupport::new_trace_lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "U main CvoSet.dll: fault 0xC0000005"),
            lines.end());
  EXPECT_EQ(text, L"unchanged");
  EXPECT_EQ(write_setting(kNoLibrary, L"name", L"1"), E_NOTIMPL);
  EXPECT_EQ(write_setting(kApi, L"throws_other", L"1"), E_UNEXPECTED);
}

TEST(Settings, WritesAndTheirFailureTraces) {
  testsupport::new_trace_lines();
  g_set_failures = {{L"not_installed", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
                    {L"refused", E_ACCESSDENIED}};
  EXPECT_EQ(write_setting(kApi, L"show_training_prompt", L"-1"), S_OK);
  EXPECT_EQ(g_last_set, L"show_training_prompt=-1");
  EXPECT_EQ(write_setting(kApi, L"not_installed", L"x"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(write_setting(kApi, L"refused", L"x"), E_ACCESSDENIED);
  const std::vector<std::string> expected = {
      "E main 0 INSTALLATION: cannot set 'not_installed'",
      "E main -2147024891 cannot set 'refused'",
  };
  EXPECT_EQ(testsupport::new_trace_lines(), expected);
}

}  // namespace
}  // namespace plugin
