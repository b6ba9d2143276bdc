// The profiles of every template of one large profile text, asked for one
// template at a time as the password rating and the logon list ask for them.
// Figures are ratios against reading the whole text once (parse_records over
// all of it), measured in the same run:
//   indexed   what the fill-in stand-in does per call: check that the text is
//             the one it read, find the template, parse its block once
//   re-read   reading the whole text again for every template (projected from
//             a sample of the calls); the quadratic way the stand-in avoids
//   library   (Windows) the same calls through CvFillin.dll's
//             dll_function_get_profiles, images included
// Never fails.
#ifdef _WIN32
#include <windows.h>

#include <objbase.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "suite/CvFillin/profile_text.h"
#ifdef _WIN32
#include "suite/include/fillin_api.h"
#endif

namespace {

using clock_type = std::chrono::steady_clock;
using serialization::cvprofile_t;
using serialization::cvprofiles_t;

constexpr int kTemplates = 3000;
constexpr int kRounds = 3;

template <typename F>
double best_seconds(F&& f, int rounds = kRounds) {
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    const auto start = clock_type::now();
    f();
    best = std::min(best, std::chrono::duration<double>(clock_type::now() - start).count());
  }
  return best;
}

std::wstring build_text(std::vector<std::wstring>& ids) {
  cvfillin::secret_text text;
  const std::wstring_view header = cvfillin::kProfileDataHeader;
  text.insert(text.end(), header.begin(), header.end());
  text.push_back(L'\n');
  for (int t = 0; t < kTemplates; ++t) {
    ids.push_back(L"{BENCH-" + std::to_wstring(t) + L"}");
    cvprofiles_t list;
    for (int p = 0; p <= t % 2; ++p) {
      cvprofile_t r;
      r.operation = 1;
      r.profileindex = p;
      r.profilename = L"Account " + std::to_wstring(p);
      r.qlinkname = r.profilename;
      r.updatedate = "2024-05-01 10:30:00";
      for (const wchar_t* field : {L"User name", L"Password", L"Customer number"}) {
        serialization::cvprofileitem_t item;
        item.displayname = field;
        item.dbname = "field";
        item.value = std::wstring(L"value of ") + field + L" " + std::to_wstring(t);
        r.items.push_back(std::move(item));
      }
      list.push_back(std::move(r));
    }
    cvfillin::write_template(text, ids.back(), list);
  }
  return std::wstring(text.begin(), text.end());
}

}  // namespace

int main() {
  std::vector<std::wstring> ids;
  const std::wstring text = build_text(ids);
  std::size_t sink = 0;

  const double once = best_seconds([&] { sink += cvfillin::parse_records(text).size(); });
  const double indexed = best_seconds([&] {
    std::unique_ptr<cvfillin::profile_data_t> data;
    for (const auto& id : ids) {
      if (!data || !data->holds_string(text.c_str()))
        data = std::make_unique<cvfillin::profile_data_t>(text);
      sink += data->profiles(id).size();
    }
  });
  constexpr int kSample = 50;
  const double reread_sample = best_seconds(
      [&] {
        for (int i = 0; i < kSample; ++i) {
          cvfillin::profile_data_t data(text);
          sink += data.profiles(ids[static_cast<std::size_t>(i) * (kTemplates / kSample)]).size();
        }
      },
      2);
  const double reread = reread_sample * kTemplates / kSample;

  std::printf("fillin_bench: %d templates, %zu characters of profile text\n", kTemplates,
              text.size());
  std::printf("  one full read            %8.2f ms   ratio 1.00\n", once * 1e3);
  std::printf("  indexed, per template    %8.2f ms   ratio %.2f\n", indexed * 1e3, indexed / once);
  std::printf("  re-read, per template    %8.2f ms   ratio %.1f (projected from %d calls)\n",
              reread * 1e3, reread / once, kSample);

#ifdef _WIN32
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring library(path, length);
  library = library.substr(0, library.find_last_of(L'\\') + 1) + L"CvFillin.dll";
  if (HMODULE module = ::LoadLibraryW(library.c_str())) {
    const auto get = reinterpret_cast<dll_function_get_profiles_fn>(
        reinterpret_cast<void*>(::GetProcAddress(module, "dll_function_get_profiles")));
    if (get != nullptr) {
      const double through_library = best_seconds([&] {
        for (const auto& id : ids) {
          BYTE* bytes = nullptr;
          DWORD size = 0;
          if (SUCCEEDED(get(id.c_str(), text.c_str(), &bytes, &size)))
            sink += size;
          ::CoTaskMemFree(bytes);
        }
      });
      std::printf("  library, per template    %8.2f ms   ratio %.2f\n", through_library * 1e3,
                  through_library / once);
    }
    ::FreeLibrary(module);
  } else {
    std::printf("  library: CvFillin.dll not beside the program\n");
  }
#endif
  return sink == 0 ? 0 : 0;
}
