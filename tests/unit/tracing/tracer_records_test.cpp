// What the tracer writes: lazy entry records, per-thread stacks, time stamps
// and the texts of messages and errors, read back from the trace file.
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <thread>
#include <vector>

#include "tracer_test_support.h"
#include "tracing/portable/format_object.h"

namespace tracertest {
namespace {

using tracecore::realtracer_t;
using strings = std::vector<std::string>;

void format(realtracer_t& tracer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  tracer.vformat(format, args);
  va_end(args);
}

// Two threads meet here between their steps. (Not std::barrier: with this
// toolchain's atomic waits, a wake-up can be missed and the test hang.)
class meeting_t {
 public:
  void meet() {
    std::unique_lock lock(m_mutex);
    const int round = m_round;
    if (++m_arrived == 2) {
      m_arrived = 0;
      ++m_round;
      m_met.notify_all();
    } else {
      m_met.wait(lock, [&] { return m_round != round; });
    }
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_met;
  int m_arrived = 0, m_round = 0;
};

TEST_F(TracerTest, EntryRecordsAreWrittenOnlyForScopesThatTrace) {
  {
    realtracer_t tracer(env());
    at(10, 0, 0, 100);
    tracer.enter("Outer");
    at(10, 0, 0, 200);
    tracer.enter("Quiet");
    tracer.leave();
    at(10, 0, 0, 300);
    tracer.enter("Middle");
    at(10, 0, 0, 400);
    tracer.enter("Inner");
    at(10, 0, 0, 500);
    tracer.text("hello");
    tracer.leave();
    tracer.leave();
    at(10, 0, 0, 600);
    tracer.text("after");
    tracer.leave();
  }
  const auto entries = decode(trace_file()).entries;
  EXPECT_EQ(summary(entries), (strings{"t 03/07/26", "T 10:00:00.100", "> Outer", "T 10:00:00.300",
                                       "> Middle", "T 10:00:00.400", "> Inner", "T 10:00:00.500",
                                       "U hello", "<", "<", "T 10:00:00.600", "U after", "<"}));
  // The reader pairs every '<' with its '>', so none carries a payload.
  strings left;
  for (const auto& e : entries) {
    EXPECT_EQ(e.anomaly, tracereader::Anomaly::none) << e.type << " " << e.text;
    if (e.type == '<')
      left.push_back(e.function.str());
    if (e.type == 'U') {
      EXPECT_EQ(e.function, e.text == "hello" ? "Inner" : "Outer");
    }
  }
  EXPECT_EQ(left, (strings{"Inner", "Middle", "Outer"}));
}

TEST_F(TracerTest, ThreadWithoutScopesTracesInMainOncePerTracer) {
  set_dword(L"NewFileAlways", 0);  // both tracers append to one file
  for (int i = 0; i < 2; ++i) {
    at(9, 0, 0, 0);
    realtracer_t tracer(env());
    at(9, 0, 1, 0);
    tracer.text("a");
    tracer.enter("f");
    tracer.leave();  // never printed: no record
    tracer.text("b");
  }
  EXPECT_EQ(summary(decode(trace_file(0)).entries),
            (strings{"t 03/07/26", "T 09:00:00.000", "> main", "T 09:00:01.000", "U a", "U b",
                     "N 03-07-2026", "t 03/07/26", "T 09:00:00.000", "> main", "T 09:00:01.000",
                     "U a", "U b"}));
}

TEST_F(TracerTest, ThreadsKeepTheirOwnStacks) {
  DWORD a_id = 0, b_id = 0;
  {
    realtracer_t tracer(env());
    // Both threads pass each step together, so their scopes stay open side by side.
    meeting_t step;
    std::thread a([&] {
      a_id = ::GetCurrentThreadId();
      tracer.enter("A::Run");
      step.meet();
      tracer.text("a1");
      step.meet();
      tracer.enter("A::Sub");
      step.meet();
      tracer.text("a2");
      tracer.leave();
      tracer.leave();
    });
    std::thread b([&] {
      b_id = ::GetCurrentThreadId();
      tracer.enter("B::Run");
      step.meet();
      tracer.text("b1");
      step.meet();
      tracer.leave();
      step.meet();
      tracer.text("b2");
    });
    a.join();
    b.join();
  }
  EXPECT_EQ(records(false, a_id), (strings{"> A::Run", "U a1", "> A::Sub", "U a2", "<", "<"}));
  // B's stack emptied: it falls back to the default frame.
  EXPECT_EQ(records(false, b_id), (strings{"> B::Run", "U b1", "<", "> main", "U b2"}));
  EXPECT_EQ(records(false, ::GetCurrentThreadId()), strings{});
}

TEST_F(TracerTest, ThreadsTracingAtOnceKeepEveryRecordWhole) {
  // Records of several sizes from four threads at once: none may be torn or
  // interleaved with another, and each thread's stay in its order.
  constexpr int kThreads = 4;
  constexpr int kRecords = 150;
  DWORD ids[kThreads] = {};
  {
    realtracer_t tracer(env());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ids[t] = ::GetCurrentThreadId();
        tracer.enter("Worker::Run");
        for (int i = 0; i < kRecords; ++i)
          tracer.text(("r" + std::to_string(i) + std::string(t * 120, 'x')).c_str());
        tracer.leave();
      });
    }
    for (std::thread& thread : threads)
      thread.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    strings expected{"> Worker::Run"};
    for (int i = 0; i < kRecords; ++i)
      expected.push_back("U r" + std::to_string(i) + std::string(t * 120, 'x'));
    expected.push_back("<");
    EXPECT_EQ(records(false, ids[t]), expected) << "thread " << t;
  }
}

TEST_F(TracerTest, TimeStampsOnlyWhenTheClockMoved) {
  {
    realtracer_t tracer(env());
    tracer.enter("f");
    at(23, 59, 59, 998);
    tracer.text("1");
    tracer.text("2 same millisecond");
    at(23, 59, 59, 999);
    tracer.text("3");
    at(0, 0, 0, 0, 8);
    tracer.text("4 after midnight");
    at(0, 0, 0, 0, 9);
    tracer.text("5 same time next day");
    at(0, 0, 0, 0, 9, 4);
    tracer.text("6 next month");
  }
  EXPECT_EQ(records(),
            (strings{"t 03/07/26", "T 09:00:00.000", "> f", "T 23:59:59.998", "U 1",
                     "U 2 same millisecond", "T 23:59:59.999", "U 3", "t 03/08/26",
                     "T 00:00:00.000", "U 4 after midnight", "t 03/09/26", "T 00:00:00.000",
                     "U 5 same time next day", "t 04/09/26", "T 00:00:00.000", "U 6 next month"}));
}

TEST_F(TracerTest, MessageTexts) {
  const std::string long_arg(500, 'x');
  {
    realtracer_t tracer(env());
    tracer.enter("f");
    format(tracer, "QL for: %s", "narrow");
    format(tracer, "%c%c|0x%X, %d|%5.2s|", 'o', 'k', 0xBEEFu, -3, "abc");
    format(tracer, "%s", long_arg.c_str());
    format(tracer, "%s!", long_arg.substr(0, 398).c_str());
    tracer.text(
        "gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC");
    tracer.text(L"wide \u00e9");
    tracer.text(tracecore::format_t("%d of %s") % 2 % L"three");
  }
  const strings got = records(false);
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[1], "U QL for: narrow");
  EXPECT_EQ(got[2], "U ok|0xBEEF, -3|   ab|");
  EXPECT_EQ(got[3], "U " + long_arg.substr(0, 399));  // cut to 399 characters
  EXPECT_EQ(got[4], "U " + long_arg.substr(0, 398) + "!");
  EXPECT_EQ(got[5],
            "U gr\xC3\xBC\xC3\x9F"
            "e \xE2\x82\xAC");  // UTF-8 in, UTF-8 payload out
  EXPECT_EQ(got[6], "U wide \xC3\xA9");
  EXPECT_EQ(got[7], "U 2 of three");
}

TEST_F(TracerTest, ErrorsCarryTheirCodeAndKeepTheLastError) {
  {
    realtracer_t tracer(env());
    tracer.enter("CFoo::Open");
    tracer.error("CreateFile", -5);
    tracer.error(L"wide", 7);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    tracer.lasterror("CFoo::Open");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ::SetLastError(0x80004005);  // already an HRESULT: passed unchanged
    tracer.lasterror(L"hr");
    EXPECT_EQ(::GetLastError(), 0x80004005);
    ::SetLastError(0);
    tracer.lasterror("none");
    ::SetLastError(1234);
    tracer.text("message");
    format(tracer, "%d", 1);
    EXPECT_EQ(::GetLastError(), 1234u);
  }
  EXPECT_EQ(records(false),
            (strings{"> CFoo::Open", "E -5 CreateFile", "E 7 wide", "E -2147024894 CFoo::Open",
                     "E -2147467259 hr", "E 0 none", "U message", "U 1"}));
}

}  // namespace
}  // namespace tracertest
