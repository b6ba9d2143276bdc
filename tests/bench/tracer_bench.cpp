// Costs of tracing, as ratios against baselines measured in the same run:
//  - tracing off: a scope (enter + leave) and a message, against an uncontended
//    EnterCriticalSection/LeaveCriticalSection pair;
//  - tracing to a file: one message record, against enciphering the same bytes
//    plus one WriteFile of them.
// Prints its figures; never fails.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench_timing.h"
#include "tracing/portable/trace_cipher.h"
#include "tracing/tracer.h"

namespace {

using bench::now_ns;

// Best of several rounds, in nanoseconds per iteration.
template <typename F>
double measure(int iterations, F&& body) {
  double best = 1e300;
  for (int round = 0; round < 7; ++round) {
    const double start = now_ns();
    for (int i = 0; i < iterations; ++i)
      body();
    const double per = (now_ns() - start) / iterations;
    if (per < best)
      best = per;
  }
  return best;
}

void WINAPI fixed_time(SYSTEMTIME* t) {
  *t = SYSTEMTIME{2026, 12, 0, 6, 10, 0, 0, 0};
}

struct bench_root {
  HKEY key = nullptr;
  std::wstring path = L"Software\\CVBench\\" + std::to_wstring(::GetCurrentProcessId());
  bench_root() {
    ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr);
  }
  ~bench_root() {
    ::RegCloseKey(key);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\CVBench");
  }
  void set(const wchar_t* name, DWORD value) {
    HKEY tracing = nullptr;
    ::RegCreateKeyExW(key, L"SOFTWARE\\Corvantis\\Tracing", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &tracing, nullptr);
    ::RegSetValueExW(tracing, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
    ::RegCloseKey(tracing);
  }
  void set(const wchar_t* name, const std::wstring& value) {
    HKEY tracing = nullptr;
    ::RegCreateKeyExW(key, L"SOFTWARE\\Corvantis\\Tracing", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &tracing, nullptr);
    ::RegSetValueExW(tracing, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(tracing);
  }
};

}  // namespace

int main() {
  constexpr int kIterations = 200000;
  CRITICAL_SECTION cs;
  ::InitializeCriticalSection(&cs);
  const double cs_pair = measure(kIterations, [&] {
    ::EnterCriticalSection(&cs);
    ::LeaveCriticalSection(&cs);
  });
  ::DeleteCriticalSection(&cs);

  bench_root root;
  tracecore::tracer_environment_t env;
  env.machine_root = root.key;
  env.local_time = fixed_time;
  tracecore::process_flags_t flags;
  env.flags = &flags;

  {
    tracecore::realtracer_t off(env);
    const double scope = measure(kIterations, [&] {
      off.enter("CBench::Scope");
      off.leave();
    });
    const double message = measure(kIterations, [&] { off.text("a message that is never built"); });
    std::printf("tracing off: critical section pair %.1f ns\n", cs_pair);
    std::printf("tracing off, scope enter+leave: %.2f x critical section pair (goal <= 3)\n",
                scope / cs_pair);
    std::printf("tracing off, message: %.2f x critical section pair (goal <= 0.3)\n",
                message / cs_pair);
  }

  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"cvbench" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  root.set(L"DoTrace", 1);
  root.set(L"TraceToFile", 1);
  root.set(L"NewFileAlways", 1);
  root.set(L"FileName", folder + L"\\bench.trc3");
  constexpr int kRecords = 20000;
  const std::string text = "CBench::Record wrote a message of ordinary length: 42";
  double record = 0;
  {
    tracecore::realtracer_t on(env);
    on.enter("CBench::Record");
    on.text(text.c_str());  // the entry record and the time stamps come first
    record = measure(kRecords, [&] { on.text(text.c_str()); });
    on.leave();
  }
  const std::wstring baseline_path = folder + L"\\baseline.bin";
  HANDLE file =
      ::CreateFileW(baseline_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  std::string bytes(text.size() + 7, 'x');
  const double baseline = measure(kRecords, [&] {
    tracecore::apply_trace_keystream(reinterpret_cast<std::uint8_t*>(bytes.data()) + 7,
                                     text.size());
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  });
  ::CloseHandle(file);
  // The trace mutex is a named kernel object: under Wine every wait and release
  // is a server round trip, which dominates the record's cost there.
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"CVBench_mutex");
  const double mutex_pair = measure(kRecords, [&] {
    ::WaitForSingleObject(mutex, INFINITE);
    ::ReleaseMutex(mutex);
  });
  ::CloseHandle(mutex);
  std::printf(
      "tracing to file: one 'U' record %.1f ns, keystream + WriteFile %.1f ns, named mutex "
      "wait+release %.1f ns\n",
      record, baseline, mutex_pair);
  std::printf("tracing to file, record without the mutex: %.2f x keystream+WriteFile (goal <= 2)\n",
              (record - mutex_pair) / baseline);
  std::printf("tracing to file, record: %.2f x mutex pair+keystream+WriteFile (goal <= 1.3)\n",
              record / (mutex_pair + baseline));
  ::DeleteFileW(baseline_path.c_str());
  ::DeleteFileW((folder + L"\\bench.trc3").c_str());
  ::RemoveDirectoryW(folder.c_str());
  return 0;
}
