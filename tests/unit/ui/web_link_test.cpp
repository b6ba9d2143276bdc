// The web-link builder (platform-free: natively and under Wine).
#include <gtest/gtest.h>

#include <string>

#include "ui/portable/web_addresses.h"
#include "ui/portable/web_link.h"

namespace ui {
namespace {

web_link_values_t vista_values() {
  web_link_values_t v;
  v.file_version = {5, 2, 0, 17};
  v.language = L"en";
  v.country = L"US";
  v.os_major = 6;
  v.os_minor = 1;
  v.os_build = 7601;
  return v;
}

const std::wstring kStart = std::wstring(kWebLinkEndpoint) + L"fwlink?";

TEST(WebLink, SettingsLanguageAndSystem) {
  struct {
    const char* what;
    void (*change)(web_link_values_t&);
    const wchar_t* query;
  } cases[] = {
      {"defaults", [](web_link_values_t&) {},
       L"g=learn&p=1&v=5.2.0.17&s=0&x=00&f=0&l=en-US&o=vista&b=6.1.7601"},
      {"personal mode, its version, Dell before HP",
       [](web_link_values_t& v) {
         v.kind = 9;
         v.personal_mode = true;
         v.personal_build_version = L"5.2.1";
         v.oem_dell = v.oem_hp = true;
       },
       L"g=NEW 9&p=0&v=5.2.1&s=2&x=00&f=0&l=en-US&o=vista&b=6.1.7601"},
      {"HP only counts in personal mode",
       [](web_link_values_t& v) {
         v.kind = 6;
         v.oem_hp = true;
         v.personal_build_version = L"ignored";
       },
       L"g=Unin&p=1&v=5.2.0.17&s=0&x=00&f=0&l=en-US&o=vista&b=6.1.7601"},
      {"installed applications sorted, sensor, XP",
       [](web_link_values_t& v) {
         v.kind = 2;
         v.personal_mode = true;
         v.oem_hp = true;
         v.installed_apps = L"OnlineIds=5.2.0:01\nIDCard=5.2.0:4\nNoValue=\nNoColon=5";
         v.sensor_active = true;
         v.language = L"de";
         v.country = L"DE";
         v.os_major = 5;
         v.os_minor = 1;
         v.os_build = 2600;
       },
       L"g=tips&p=0&v=5.2.0.17&s=1&x=000401&f=1&l=de-DE&o=xp&b=5.1.2600"},
  };
  for (const auto& c : cases) {
    web_link_values_t v = vista_values();
    c.change(v);
    EXPECT_EQ(build_web_link(v), kStart + c.query) << c.what;
  }
  for (auto [major, minor] : {std::pair{5u, 0u}, std::pair{4u, 10u}}) {
    web_link_values_t v = vista_values();
    v.os_major = major;
    v.os_minor = minor;
    EXPECT_EQ(build_web_link(v), kWebHomePage);  // Windows 2000 and older
  }
}

TEST(WebLink, LocaleOfTheInterfaceLanguage) {
  const std::pair<std::uint16_t, std::uint16_t> cases[] = {
      {0x0409, 1033},   {0x0809, 1033},   {0x0407, 1031},   {0x0C07, 1031},   {0x0404, 0x0404},
      {0x0804, 0x0804}, {0x0C04, 1028},   {0x0406, 0x0406}, {0x0814, 0x0814}, {0x0414, 0x0414},
      {0x0C14, 1044},   {0x081D, 0x081D}, {0x041D, 1053},   {0x0816, 1046},   {0x0419, 1049},
      {0x041F, 1055},   {0x040C, 1036},   {0x0C0A, 1034},   {0x0411, 1041},   {0x0413, 1043},
      {0x0415, 1033},
  };
  for (auto [language, locale] : cases)
    EXPECT_EQ(web_link_locale(language), locale) << std::hex << language;
  EXPECT_EQ(installed_apps_code(L""), L"00");
  EXPECT_EQ(installed_apps_code(L"b=x:7:9\na=y:123"), L"0012307");
  EXPECT_EQ(web_link_kind_text(5), L"feed");
}

}  // namespace
}  // namespace ui
