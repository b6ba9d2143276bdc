// Cost of reading templates, as ratios against parsing the same bytes with
// Expat and empty element handlers, measured in the same run:
//   model: read_manifest on bytes in memory (parse into the model, passes);
//   load:  loadM_properly on the files (mapping included);
//   open:  the floor of any loader, CreateFile + ReadFile + CloseHandle of
//          each file, shown for comparison (under Wine each call of the file
//          system is a round trip to the Wine server).
// Each figure is the best of several rounds; the rounds interleave the three.
#include <windows.h>

#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "templates/portable/manifest_text.h"
#include "templates/portable/template_reader.h"
#include "templates/template_loader.h"

namespace {

constexpr int kCopies = 100;  // of each sample template
constexpr int kRounds = 30;

const wchar_t* const kSamples[] = {L"web_mail_single.cvm", L"web_bank_pchange.cvm",
                                   L"web_shop_forms.cvm", L"app_mailclient.cvm",
                                   L"encoded_values.cvm"};

std::wstring data_dir() {
  const char* root = std::getenv("CV_TEST_DATA");
  std::wstring path = templates::utf8_to_wide(root ? root : "tests/data");
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (!path.empty() && path[0] == L'\\')
    path = L"Z:" + path;
  return path + L"\\templates\\";
}

std::string read_all(const std::wstring& path) {
  std::ifstream in(templates::wide_to_utf8(path).c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

double now_seconds() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void XMLCALL empty_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL empty_end(void*, const XML_Char*) {}

std::size_t expat_only(const std::vector<std::string>& documents) {
  std::size_t ok = 0;
  for (const std::string& d : documents) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(parser, empty_start, empty_end);
    ok += XML_Parse(parser, d.data(), static_cast<int>(d.size()), XML_FALSE) == XML_STATUS_OK;
    XML_Parse(parser, nullptr, 0, XML_TRUE);
    XML_ParserFree(parser);
  }
  return ok;
}

std::size_t model_only(const std::vector<std::string>& documents) {
  std::size_t ok = 0;
  templates::manifest_t m;
  for (const std::string& d : documents) {
    templates::read_manifest(d.data(), d.size(), m);
    ok += m.forms.size() != 0;
  }
  return ok;
}

std::size_t load_files(const std::vector<std::wstring>& files) {
  std::size_t ok = 0;
  templates::manifest_t m;
  for (const std::wstring& f : files)
    ok += templates::loadM_properly(m, f);
  return ok;
}

std::size_t open_and_read(const std::vector<std::wstring>& files) {
  std::size_t ok = 0;
  static char buffer[64 * 1024];
  for (const std::wstring& f : files) {
    const HANDLE h = ::CreateFileW(f.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    DWORD read = 0;
    ok += ::ReadFile(h, buffer, sizeof(buffer), &read, nullptr) && read != 0;
    ::CloseHandle(h);
  }
  return ok;
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"cvtpl-bench-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
  ::CreateDirectoryW(folder.c_str(), nullptr);

  std::vector<std::wstring> files;
  std::vector<std::string> documents;
  std::size_t bytes = 0;
  for (const wchar_t* sample : kSamples) {
    const std::string content = read_all(data_dir() + sample);
    if (content.empty()) {
      std::printf("template_reader_bench: sample %ls missing\n", sample);
      return 0;
    }
    for (int i = 0; i < kCopies; ++i) {
      const std::wstring file = folder + std::to_wstring(i) + L"-" + sample;
      const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
      DWORD written = 0;
      ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
      ::CloseHandle(h);
      files.push_back(file);
      documents.push_back(content);
      bytes += content.size();
    }
  }

  double best_expat = 1e9, best_model = 1e9, best_load = 1e9, best_open = 1e9;
  std::size_t ok = 0;
  for (int round = 0; round < kRounds; ++round) {
    double t0 = now_seconds();
    ok += expat_only(documents);
    double t1 = now_seconds();
    ok += model_only(documents);
    double t2 = now_seconds();
    ok += load_files(files);
    double t3 = now_seconds();
    ok += open_and_read(files);
    double t4 = now_seconds();
    best_open = std::min(best_open, t4 - t3);
    best_expat = std::min(best_expat, t1 - t0);
    best_model = std::min(best_model, t2 - t1);
    best_load = std::min(best_load, t3 - t2);
  }

  const double megabytes = static_cast<double>(bytes) / (1024.0 * 1024.0);
  std::printf("template_reader_bench: N=%zu templates, %zu bytes, best of %d rounds (checks %zu)\n",
              files.size(), bytes, kRounds, ok);
  std::printf(
      "  expat with empty handlers %.3f ms (%.1f MB/s), model %.3f ms, load %.3f ms, "
      "open+read+close %.3f ms\n",
      best_expat * 1e3, megabytes / best_expat, best_model * 1e3, best_load * 1e3, best_open * 1e3);
  std::printf("  model (read_manifest): %.2f x expat with empty handlers (goal <= 1.3)\n",
              best_model / best_expat);
  std::printf("  load (loadM_properly): %.2f x open+read+close and model (goal <= 1.2)\n",
              best_load / (best_open + best_model));
  std::printf("  per template: expat %.1f us, model %.1f us, load %.1f us, open %.1f us\n",
              best_expat * 1e6 / files.size(), best_model * 1e6 / files.size(),
              best_load * 1e6 / files.size(), best_open * 1e6 / files.size());

  for (const std::wstring& f : files)
    ::DeleteFileW(f.c_str());
  ::RemoveDirectoryW(folder.c_str());
  return 0;
}
