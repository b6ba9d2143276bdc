// Backup and restore of 1,000 logons (2 KB templates, one quick link each, 20
// categories) against copying the same template and link files with CopyFileW.
// Prints ratios measured in one run; never fails.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quicklinks/portable/quicklink_file.h"
#include "store/backup_storage.h"
#include "templates/portable/manifest_text.h"
#include "tests/support/win_test_helpers.h"

namespace {

constexpr int kLogons = 1000;
constexpr wchar_t kSettings[] = L"Software\\Corvantis\\Settings";
constexpr wchar_t kCategories[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\QLCategories";
const wchar_t* const kSettingNames[] = {L"localstorage_dir", L"quicklink_filename",
                                        L"cachestorage_dir", L"bin_dir", L"is_personalmode"};

double seconds_of(auto&& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const char* data = std::getenv("CV_TEST_DATA");
  std::ifstream in{
      std::filesystem::path(data ? data : "tests/data") / "templates" / "web_mail_single.cvm",
      std::ios::binary};
  std::string sample((std::istreambuf_iterator<char>(in)), {});
  if (sample.empty()) {
    std::printf("backup_bench: sample template missing\n");
    return 0;
  }
  sample += "<!--" +
            std::string(std::max<std::size_t>(2048, sample.size() + 8) - sample.size() - 7, 'x') +
            "-->";
  testsupport::scratch_folder_t scratch;
  const std::wstring logons = scratch.path() + L"Logons\\";
  const std::wstring copies = scratch.path() + L"Copies\\";
  const std::wstring links_file = scratch.path() + L"QuickLinks.txt";
  std::filesystem::create_directories(logons);
  std::filesystem::create_directories(copies);
  const std::wstring values[] = {logons, links_file, scratch.path() + L"cache\\",
                                 scratch.path() + L"bin\\", L"1"};
  for (std::size_t i = 0; i < std::size(kSettingNames); ++i)
    testsupport::set_reg_string(HKEY_CURRENT_USER, kSettings, kSettingNames[i], values[i]);
  QL::set_t links;
  for (int i = 0; i < kLogons; ++i) {
    const std::wstring name = L"site" + std::to_wstring(i) + L".cvm";
    testsupport::write_file(logons + name, sample);
    QL::add(links, "https://site" + std::to_string(i) + ".example/", "Logon", 0, "{ID}",
            templates::wide_to_utf8(logons + name), {});
  }
  testsupport::write_file(links_file, QL::write_text(links));
  for (int c = 0; c < 20; ++c)
    testsupport::set_reg_string(HKEY_CURRENT_USER, kCategories,
                                (L"Category" + std::to_wstring(c)).c_str(),
                                L"site" + std::to_wstring(c));

  const double copy = seconds_of([&] {
    for (int i = 0; i < kLogons; ++i) {
      const std::wstring name = L"site" + std::to_wstring(i) + L".cvm";
      ::CopyFileW((logons + name).c_str(), (copies + name).c_str(), FALSE);
    }
    ::CopyFileW(links_file.c_str(), (copies + L"QuickLinks.txt").c_str(), FALSE);
  });
  backup::image_t image;
  std::vector<std::uint8_t> bytes;
  const double backup = seconds_of([&] {
    backup::collect_image(image);
    bytes = backup::build(image);
  });
  HRESULT hr = E_FAIL;
  const double restore =
      seconds_of([&] { hr = backup::restore_image(bytes.data(), bytes.size()); });
  std::printf(
      "backup_bench: %d logons, %zu templates, %zu links, %zu categories, image %zu bytes, "
      "restore hr=0x%08X\n",
      kLogons, image.templates.size(), image.links.size(), image.categories.size(), bytes.size(),
      static_cast<unsigned>(hr));
  std::printf("  backup: %.2f x CopyFileW of the files (goal <= 4)\n", backup / copy);
  std::printf("  restore: %.2f x CopyFileW of the files (goal <= 4)\n", restore / copy);
  std::printf("  copy %.1f ms, backup %.1f ms, restore %.1f ms\n", copy * 1e3, backup * 1e3,
              restore * 1e3);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvantis\\Applications\\DashBoard");
  for (const wchar_t* name : kSettingNames)
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, name);
  return 0;
}
