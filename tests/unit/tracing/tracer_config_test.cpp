// The tracer's configuration: the switch, the output kind, the component
// filter, the 30-second refresh and the clean-up of expired trace files.
#include <optional>

#include "tracer_test_support.h"

namespace tracertest {
namespace {

using tracecore::realtracer_t;

struct kind_case_t {
  const char* name;
  std::optional<DWORD> doTrace;
  std::optional<DWORD> traceToFile;
  std::optional<DWORD> newFileAlways;
  unsigned kind;
};

class TracerKind : public TracerTest, public ::testing::WithParamInterface<kind_case_t> {};

TEST_P(TracerKind, SelectsOutputFromRegistry) {
  const kind_case_t& c = GetParam();
  remove_value(L"DoTrace");
  if (c.doTrace)
    set_dword(L"DoTrace", *c.doTrace);
  if (c.traceToFile)
    set_dword(L"TraceToFile", *c.traceToFile);
  if (c.newFileAlways)
    set_dword(L"NewFileAlways", *c.newFileAlways);
  {
    realtracer_t tracer(env());
    EXPECT_EQ(tracer.current_kind(), c.kind);
    if (c.kind != 4)  // the console would open a window
      tracer.text("probe");
  }
  EXPECT_EQ(std::filesystem::exists(trace_file()), c.kind == 3);
  EXPECT_EQ(std::filesystem::exists(trace_file(0)), c.kind == 2);
}

constexpr DWORD kDay = 86400;
INSTANTIATE_TEST_SUITE_P(
    Matrix,
    TracerKind,
    ::testing::Values(kind_case_t{"DoTraceAbsent", std::nullopt, {}, {}, 1},
                      kind_case_t{"DoTraceZero", 0, {}, {}, 1},
                      kind_case_t{"DoTraceOne", 1, {}, {}, 3},
                      kind_case_t{"DoTrace36HoursAhead", kNow + 36 * 3600, {}, {}, 3},
                      kind_case_t{"DoTrace20HoursAhead", kNow + 20 * 3600, {}, {}, 1},
                      kind_case_t{"DoTraceInThePast", kNow - 5 * kDay, {}, {}, 1},
                      kind_case_t{"SharedFile", 1, 1, 0, 2},
                      kind_case_t{"SharedFileTraceToFileAbsent", 1, {}, 0, 2},
                      kind_case_t{"NewFileAlwaysNonzero", 1, 1, 5, 3},
                      kind_case_t{"TraceToFileZero", 1, 0, {}, 1},
                      kind_case_t{"TraceToFileTwo", 1, 2, 0, 1},
                      kind_case_t{"TraceToFileUnknown", 1, 7, {}, 1},
                      kind_case_t{"Console", 1, 3, {}, 4},
                      kind_case_t{"DebuggerAbsentMeansConsole", 1, 4, {}, 4},
                      kind_case_t{"SwitchOffWinsOverConsole", 0, 3, {}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TracerTest, ValuesOfTheWrongTypeCountAsAbsent) {
  set_string(L"TraceToFile", L"0");
  EXPECT_EQ(realtracer_t(env()).current_kind(), 3u);  // absent TraceToFile means 1
  set_string(L"DoTrace", L"1");
  EXPECT_EQ(realtracer_t(env()).current_kind(), 1u);
}

TEST_F(TracerTest, MissingTracingKeyMeansNowhere) {
  ::RegDeleteTreeW(m_root, L"SOFTWARE");
  realtracer_t tracer(env());
  EXPECT_EQ(tracer.current_kind(), 1u);
  tracer.text("dropped");
  EXPECT_TRUE(std::filesystem::is_empty(m_folder));
}

struct filter_case_t {
  const char* name;
  const wchar_t* notListed;  // value name in "ComponentsNOT"
  const wchar_t* listed;     // value name in "Components"
  unsigned kind;
};

class TracerFilter : public TracerTest, public ::testing::WithParamInterface<filter_case_t> {};

// The component is the test executable: "tracer_tests".
TEST_P(TracerFilter, ComponentsNotExcludesUnlessAlsoListed) {
  const filter_case_t& c = GetParam();
  if (c.notListed)
    set_dword(c.notListed, 0, std::wstring(kTracingKey) + L"\\ComponentsNOT");
  if (c.listed)
    set_dword(c.listed, 0, std::wstring(kTracingKey) + L"\\Components");
  set_dword(L"other", 0, std::wstring(kTracingKey) + L"\\ComponentsNOT");
  EXPECT_EQ(realtracer_t(env()).current_kind(), c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Names,
    TracerFilter,
    ::testing::Values(filter_case_t{"NotListedAnywhere", nullptr, nullptr, 3},
                      filter_case_t{"OnlyInComponentsNot", L"tracer_tests", nullptr, 1},
                      filter_case_t{"CaseIgnored", L"TRACER_Tests", nullptr, 1},
                      filter_case_t{"InBoth", L"tracer_tests", L"TRACER_TESTS", 3},
                      filter_case_t{"OnlyInComponents", nullptr, L"tracer_tests", 3},
                      filter_case_t{"ExtensionIsNotPartOfTheName", L"tracer_tests.exe", nullptr, 3},
                      filter_case_t{"PrefixDoesNotMatch", L"tracer_test", nullptr, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TracerTest, ConfigurationChangesWaitForRefreshOnScopeEntry) {
  realtracer_t tracer(env());
  ASSERT_EQ(tracer.current_kind(), 3u);
  set_dword(L"TraceToFile", 0);
  g_tick += 30000;
  tracer.enter("f");
  EXPECT_EQ(tracer.current_kind(), 3u);  // not yet 30 s later
  tracer.leave();
  g_tick += 1;
  tracer.text("messages do not refresh");
  EXPECT_EQ(tracer.current_kind(), 3u);
  tracer.enter("g");
  EXPECT_EQ(tracer.current_kind(), 1u);
  tracer.leave();

  // Back on: the next check is again 30 s after the last one.
  remove_value(L"TraceToFile");
  g_tick += 30000;
  tracer.enter("h");
  EXPECT_EQ(tracer.current_kind(), 1u);
  tracer.leave();
  g_tick += 1;
  tracer.enter("i");
  EXPECT_EQ(tracer.current_kind(), 3u);
  tracer.leave();
}

TEST_F(TracerTest, ShortDoTraceIsDroppedAtTheNextRefresh) {
  realtracer_t tracer(env());
  ASSERT_EQ(tracer.current_kind(), 3u);
  set_dword(L"DoTrace", kNow + 20 * 3600);
  tracer.enter("f");
  EXPECT_TRUE(has_value(L"DoTrace"));
  EXPECT_EQ(tracer.current_kind(), 3u);
  g_tick += 30001;
  tracer.enter("g");
  EXPECT_FALSE(has_value(L"DoTrace"));
  EXPECT_EQ(tracer.current_kind(), 1u);
  tracer.leave();
  tracer.leave();
}

class TracerCleanup : public TracerTest {
 protected:
  void touch(const wchar_t* name) { std::ofstream(std::filesystem::path(m_folder + L"\\" + name)); }
  bool pending(const wchar_t* name) {
    const std::wstring wanted = lower(L"\\??\\" + m_folder + L"\\" + name);
    const auto pairs = read_pending_pairs();
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
      if (lower(pairs[i]) == wanted && pairs[i + 1].empty())
        return true;
    return false;
  }
};

TEST_F(TracerCleanup, ExpiredDoTraceSchedulesTraceFilesForDeletionOnce) {
  touch(L"a.trc3");
  touch(L"b.trc3");
  touch(L"keep.log");

  // No DoTrace value to drop: nothing happens.
  remove_value(L"DoTrace");
  realtracer_t{env()};
  EXPECT_FALSE(m_flags.cleanup_done);
  EXPECT_FALSE(pending(L"a.trc3"));

  set_dword(L"DoTrace", kNow - 2 * kDay);
  realtracer_t{env()};
  EXPECT_FALSE(has_value(L"DoTrace"));
  EXPECT_TRUE(pending(L"a.trc3"));
  EXPECT_TRUE(pending(L"b.trc3"));
  EXPECT_FALSE(pending(L"keep.log"));
  EXPECT_TRUE(std::filesystem::exists(m_folder + L"\\a.trc3"));  // deleted only at restart

  // Once per process: the value still goes, the new file stays.
  touch(L"c.trc3");
  set_dword(L"DoTrace", kNow - 2 * kDay);
  realtracer_t{env()};
  EXPECT_FALSE(has_value(L"DoTrace"));
  EXPECT_FALSE(pending(L"c.trc3"));

  tracecore::process_flags_t fresh;
  set_dword(L"DoTrace", kNow - 2 * kDay);
  realtracer_t{env(fresh)};
  EXPECT_TRUE(pending(L"c.trc3"));
}

}  // namespace
}  // namespace tracertest
