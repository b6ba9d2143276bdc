// Figures of the password ratings and the dashboard storage, as ratios against
// baselines measured in the same run:
//   rating:   the rating pass over 1,000 accounts (three per logon, 8 to 20
//             characters, a tenth reusing an earlier password, dates over a
//             year) against rating the same passwords held as plain strings
//             (a multimap of the texts counting reuse);
//   heap:     the pass's peak of live heap beyond the model, at 1,000 and at
//             10,000 accounts, and the model's bytes per account;
//   list:     with 1,000 templates listed in the lookup section, the template
//             list refresh (unchanged, changed) against the lookup alone, the
//             cached list as a VARIANT against copying the paths, and taking
//             over a profile of the last template against loading all 1,000.
// Each figure is the median of single operations. Prints; never fails.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "crypto/envelope.h"
#include "crypto/obfuscated_text.h"
#include "store/dashboard_storage.h"
#include "store/fillin_components.h"
#include "strength/password_rating.h"
#include "strength/portable/update_date.h"
#include "suite/agent/lookup_cache_builder.h"
#include "support/com.h"
#include "templates/lookup_cache.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_loader.h"
#include "tests/support/win_test_helpers.h"

namespace {

// Live heap bytes of operator new, and their peak since the last reset. (The
// pass's decoding buffers come from the process heap and are given back per
// account; what could grow with the accounts are containers.)
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

}  // namespace

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  auto* block = static_cast<std::size_t*>(std::malloc(size + 16));
  if (block == nullptr)
    throw std::bad_alloc();
  *block = size;
  const long long live = g_live += static_cast<long long>(size);
  for (long long peak = g_peak; live > peak && !g_peak.compare_exchange_weak(peak, live);) {
  }
  return reinterpret_cast<char*>(block) + 16;
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  if (p == nullptr)
    return;
  auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(p) - 16);
  g_live -= static_cast<long long>(*block);
  std::free(block);
}
void operator delete[](void* p) noexcept {
  operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  operator delete(p);
}

namespace {

constexpr int kRounds = 21;
constexpr std::uint64_t kDay = 864000000000ull;

template <typename... Steps>
double measure(Steps... steps) {
  return bench::median_ns(kRounds, steps...);
}

void ratio(const char* name, double value, double baseline, const char* base, double goal) {
  std::printf("%s: %.2f x %s (goal <= %.1f)\n", name, value / baseline, base, goal);
}

struct plain_account_t {
  std::wstring password;
  std::string date;
};

std::vector<plain_account_t> accounts(int count, std::uint64_t now) {
  std::vector<plain_account_t> list;
  std::srand(7);
  for (int i = 0; i < count; ++i) {
    plain_account_t a;
    if (i % 10 == 9) {
      a.password = list[static_cast<std::size_t>(std::rand() % i)].password;
    } else {
      const int length = 8 + std::rand() % 13;
      for (int c = 0; c < length; ++c)
        a.password.push_back(static_cast<wchar_t>(L'!' + std::rand() % 94));
    }
    a.date =
        strength::format_update_date(now - static_cast<std::uint64_t>(std::rand() % 365) * kDay);
    list.push_back(std::move(a));
  }
  return list;
}

// The model as the builder leaves it: three accounts per logon.
void fill_model(strength::PasswordRatingModel& model, const std::vector<plain_account_t>& list) {
  const crypto::obfuscation_key_t key;
  model.set_index_key({0x0123456789ABCDEFull, 0xFEDCBA9876543210ull});
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i % 3 == 0)
      model.logons.emplace_back().logon_name = L"Logon " + std::to_wstring(i / 3);
    strength::AccountRating& a = model.logons.back().accounts.emplace_back();
    crypto::ObfuscateToText(key, list[i].password, a.password);
    a.update_date = templates::utf8_to_wide(list[i].date);
    a.account_value = L"user" + std::to_wstring(i);
    model.index_password(list[i].password);
  }
}

std::int32_t plain_pass(const std::vector<plain_account_t>& list,
                        const strength::rating_settings_t& settings,
                        std::uint64_t now) {
  std::multimap<std::wstring, int> index;
  for (const auto& a : list)
    index.emplace(a.password, 0);
  std::uint64_t sum = 0;
  for (const auto& a : list) {
    const auto r = strength::rate_password(a.password, index.count(a.password) - 1, now,
                                           strength::parse_update_date(a.date), settings);
    sum += static_cast<std::uint64_t>(r.overall);
  }
  return strength::overall_level(sum, list.size());
}

void rating_figures() {
  FILETIME ft{};
  ::GetSystemTimeAsFileTime(&ft);
  const std::uint64_t now = static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
  const strength::rating_settings_t settings;

  long long peak_beyond[2] = {};
  for (int n : {1000, 10000}) {
    const auto list = accounts(n, now);
    const long long before = g_live;
    strength::PasswordRatingModel model;
    fill_model(model, list);
    const long long model_bytes = g_live - before;
    if (n == 1000) {
      const double plain = measure([] {}, [&] { plain_pass(list, settings, now); });
      const double rated = measure([] {}, [&] { strength::RatePasswords(model, settings, now); });
      ratio("rating_pass_1000", rated, plain, "plain_pass", 20);
      std::printf("model: %.0f bytes/account\n", static_cast<double>(model_bytes) / n);
    }
    const long long base = g_live;
    g_peak = base;
    strength::RatePasswords(model, settings, now);
    peak_beyond[n == 1000 ? 0 : 1] = g_peak - base;
  }
  std::printf("heap beyond the model: %lld bytes at 1,000 accounts, %lld at 10,000\n",
              peak_beyond[0], peak_beyond[1]);
  // One byte added to both, so that no growth at all reads as 1.
  ratio("heap_10000", static_cast<double>(peak_beyond[1] + 1),
        static_cast<double>(peak_beyond[0] + 1), "heap_1000", 1);
}

// The lookup section the agent would publish, listing `paths`.
HANDLE publish(const std::wstring& folder, int count) {
  standin::lookup_cache_builder_t builder;
  const auto f = builder.add_folder(templates::wide_to_utf8(folder));
  for (int i = 0; i < count; ++i) {
    const std::string key = "site" + std::to_string(i);
    builder.add_entry(0, key, f, key + ".cvm");
  }
  const auto image = builder.build();
  HANDLE mapping =
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                           static_cast<DWORD>(image.size()), templates::kLookupCacheName);
  void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
  std::copy(image.begin(), image.end(), static_cast<std::uint8_t*>(view));
  ::UnmapViewOfFile(view);
  return mapping;
}

std::string site_template(int i) {
  const std::string n = std::to_string(i);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest><descriptor id=\"{SITE-" + n +
         "}\" version=\"1\"/><forms><form><fcontext type=\"\" name=\"0\"/>"
         "<detection web_murl=\"https://site" +
         n +
         ".example/login\"/>"
         "<options choosename=\"Site " +
         n +
         "\"/><fields>"
         "<field type=\"edit\" displayname=\"User name\" dbname=\"username\"/>"
         "<field type=\"edit\" displayname=\"Password\" dbname=\"password\" password=\"1\"/>"
         "<field type=\"button\" displayname=\"Sign in\" submit=\"1\"/>"
         "</fields></form></forms></manifest>\n";
}

void list_figures() {
  constexpr int kTemplates = 1000;
  const testsupport::scratch_folder_t folder;
  for (int i = 0; i < kTemplates; ++i)
    testsupport::write_file(folder.path() + L"site" + std::to_wstring(i) + L".cvm",
                            site_template(i));
  const support::unique_handle section(publish(folder.path(), kTemplates));
  const HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        nullptr, nullptr);

  std::vector<std::wstring> paths;
  const double lookup =
      measure([&] { paths.clear(); }, [&] { templates::get_manifest_fnames_all(paths); });
  dashboard::RefreshManifestList(window);
  const double unchanged = measure([] {}, [&] { dashboard::RefreshManifestList(window); });
  const double changed = measure([] { dashboard::set_manifest_lookup(nullptr); },
                                 [&] { dashboard::RefreshManifestList(window); });
  ratio("refresh_unchanged", unchanged, lookup, "lookup", 1.2);
  ratio("refresh_changed", changed, lookup, "lookup", 1.3);

  std::vector<std::wstring> copy;
  const double copying = measure(
      [&] {
        copy.clear();
        copy.shrink_to_fit();
      },
      [&] { copy = paths; });
  support::com_ptr<IDashBoardStorage> storage(new dashboard::CDashBoardStorage(0));
  storage->AddRef();
  dashboard::GetManifestFileList(false);
  support::unique_variant list;
  const double cached =
      measure([&] { ::VariantClear(list.get()); }, [&] { storage->GetManifestList(list.get()); });
  ratio("list_from_cache", cached, copying, "copy_paths", 3);

  // Taking over a profile of the last template: the stand-ins of a private store.
  const testsupport::scoped_component_folder_t components(testsupport::program_file(L""));
  const testsupport::scoped_environment_t store(L"CVOPS_STANDIN_STORE", L"CvBench PStore");
  support::com_ptr<IDashBoardStorage> session;
  if (FAILED(dashboard::OpenDashBoardStorage(session.put()))) {
    std::printf("refresh_profile: no protected storage beside the benchmark\n");
    return;
  }
  DWORD handle = 0;
  session->GetStorageHandle(&handle);
  serialization::cvprofile_t record;
  record.operation = 1;
  record.profilename = L"Bench";
  const auto& ps = pstore::protected_storage();
  serialization::memoryblock_T<serialization::aloocator_cpp> image;
  serialization::SaveProfileImage(record, image);
  const std::wstring last_id = L"{SITE-" + std::to_wstring(kTemplates - 1) + L"}";
  const double loading = measure([] {},
                                 [&] {
                                   templates::manifest_t manifest;
                                   for (const auto& path : paths)
                                     templates::loadM_properly(manifest, path);
                                 });
  const double refresh = measure(
      [&] {
        ps.entry_points().CVOPSWriteProfileToSharedStorageEx(
            handle, L"", &CVOPS_PROFILE_GUID, last_id.c_str(), image.size(), image.data());
      },
      [&] { dashboard::RefreshProfileFromGlobal(window, session.get()); });
  ratio("refresh_profile_last", refresh, loading, "load_all_templates", 1.3);
  session.reset();
  wchar_t appdata[MAX_PATH];
  ::ExpandEnvironmentStringsW(L"%APPDATA%\\Corvantis\\PStore\\CvBench PStore.dat", appdata,
                              MAX_PATH);
  ::DeleteFileW(appdata);
  ::DestroyWindow(window);
}

}  // namespace

int main() {
  ::CoInitialize(nullptr);
  rating_figures();
  list_figures();
  ::CoUninitialize();
  return 0;
}
