// Fuzzes the quick-link reader. Whatever the bytes, as UTF-8 or after the
// UTF-16 mark: parsing ends, records are numbered in order and every kept value
// is free of line breaks. The bytes also drive a generated set, which must load
// back equal from its saved text, in either encoding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quicklinks/portable/quicklink_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using fuzzcheck::check;

using namespace QL;

bool clean(const std::string& s) {
  return s.find_first_of("\r\n") == std::string::npos;
}

void check_parsed(const set_t& set) {
  for (std::size_t i = 0; i < set.records.size(); ++i) {
    const record_t& r = set.records[i];
    check(r.index == static_cast<int>(i));
    check(clean(r.url) && clean(r.dlgpath) && clean(r.manifest) && clean(r.name) &&
          clean(r.manifestid));
  }
  check(clean(set.kvxurls) && clean(set.kvxdlgpaths));
}

// Takes bytes from the input one by one (zeros once it is used up).
struct source_t {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t byte() {
    if (size == 0)
      return 0;
    --size;
    return *data++;
  }
  std::string text() {
    std::string out(byte() % 12, ' ');
    for (char& c : out)
      c = static_cast<char>(0x20 + byte() % 0x5F);  // printable ASCII
    return out;
  }
};

std::string as_utf16(const std::string& ascii) {
  std::string out("\xFF\xFE", 2);
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  environment_t env;
  env.file_exists = [](const std::string& program) { return !program.empty(); };
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  set_t parsed;
  parse_text(bytes, parsed, env);
  check_parsed(parsed);
  set_t wide;
  parse_text(std::string("\xFF\xFE", 2) + std::string(bytes), wide, env);
  check_parsed(wide);

  source_t source{data, size};
  set_t made;
  const std::size_t count = source.byte() % 6;
  for (std::size_t i = 0; i < count; ++i) {
    record_t r;
    r.type = source.byte() % 2 ? type_app : type_url;
    r.manifest = source.text();
    (r.type == type_url ? r.url : r.dlgpath) = source.text();
    if (r.type == type_app && r.dlgpath.empty())
      r.dlgpath = "x";
    r.name = source.text();
    r.profile = static_cast<std::int8_t>(source.byte());
    r.manifestid = source.text();
    r.index = static_cast<int>(i);
    made.records.push_back(r);
  }
  made.kvxurls = source.text();
  made.kvxdlgpaths = source.text();
  const std::string saved = write_text(made);
  set_t loaded;
  parse_text(saved, loaded, env);
  check(loaded.records == made.records && loaded.kvxurls == made.kvxurls &&
        loaded.kvxdlgpaths == made.kvxdlgpaths);

  set_t loaded16;
  parse_text(as_utf16(saved), loaded16, env);
  check(loaded16.records == made.records && loaded16.kvxurls == made.kvxurls &&
        loaded16.kvxdlgpaths == made.kvxdlgpaths);
  return 0;
}
