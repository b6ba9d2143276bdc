// Fuzzes the web-link builder over any settings texts, versions, locales and
// systems: the link is always the redirect address with its nine keys, or the
// home page.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "ui/portable/web_addresses.h"
#include "ui/portable/web_link.h"

namespace {

std::wstring wide_text(FuzzedDataProvider& in) {
  std::wstring text;
  const std::size_t units = in.ConsumeIntegralInRange<std::size_t>(0, 48);
  for (std::size_t i = 0; i < units; ++i)
    text.push_back(static_cast<wchar_t>(in.ConsumeIntegral<std::uint16_t>()));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  ui::web_link_values_t v;
  v.kind = in.ConsumeIntegral<std::uint32_t>();
  v.personal_mode = in.ConsumeBool();
  v.oem_dell = in.ConsumeBool();
  v.oem_hp = in.ConsumeBool();
  v.sensor_active = in.ConsumeBool();
  for (auto& part : v.file_version)
    part = in.ConsumeIntegral<std::uint16_t>();
  v.os_major = in.ConsumeIntegral<std::uint32_t>();
  v.os_minor = in.ConsumeIntegral<std::uint32_t>();
  v.os_build = in.ConsumeIntegral<std::uint32_t>();
  v.personal_build_version = wide_text(in);
  v.language = wide_text(in);
  v.country = wide_text(in);
  v.installed_apps = wide_text(in);
  (void)ui::web_link_locale(in.ConsumeIntegral<std::uint16_t>());

  const std::wstring link = ui::build_web_link(v);
  const std::wstring endpoint = std::wstring(ui::kWebLinkEndpoint) + L"fwlink?g=";
  if (link != ui::kWebHomePage &&
      (link.compare(0, endpoint.size(), endpoint) != 0 || link.find(L"&b=") == std::wstring::npos))
    std::abort();
  const std::wstring x = ui::installed_apps_code(v.installed_apps);
  if (x.size() < 2 || x.compare(0, 2, L"00") != 0)
    std::abort();
  return 0;
}
