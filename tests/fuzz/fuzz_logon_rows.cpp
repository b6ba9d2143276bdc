// Fuzzes the logon list's decisions over a template read from bytes and a
// profile list read from bytes: rows consistent with the list, quick-link names
// distinct within the logon.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <set>
#include <string>

#include "templates/portable/template_reader.h"
#include "ui/portable/logon_rows.h"

namespace {

struct no_references final : serialization::reference_resolver {
  serialization::secure_wstring Resolve(std::wstring_view name) override {
    return serialization::secure_wstring(name);
  }
};

void check(bool condition) {
  if (!condition)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string xml = in.ConsumeRandomLengthString(8192);
  const std::vector<std::uint8_t> image = in.ConsumeRemainingBytes<std::uint8_t>();
  templates::manifest_t manifest;
  try {
    templates::read_manifest(xml.data(), xml.size(), manifest);
  } catch (...) {
    // A template that does not load makes no rows; the profiles alone still decide.
  }
  serialization::cvprofiles_t profiles;
  serialization::LoadProfilesImage(image.data(), image.size(), profiles);

  const ui::logon_rows_t rows = ui::plan_logon_rows(manifest, profiles);
  check(rows.any == !profiles.empty());
  check(rows.accounts.size() <= profiles.size());
  check(profiles.size() > 1 || rows.accounts.empty());
  no_references resolver;
  std::vector<std::wstring> texts;
  for (std::size_t i : rows.accounts) {
    check(i < profiles.size() && profiles[i].operation != 2);
    texts.push_back(ui::account_text(manifest, profiles[i], resolver));
  }
  std::set<std::wstring> names;
  for (const auto& name : ui::quicklink_names(rows.logon_text, texts))
    check(name.empty() || names.insert(name).second);
  return 0;
}
