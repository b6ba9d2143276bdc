// The web links of the dashboard ("learn more", "tips", "feedback", ...): the
// redirect service's address with the edition, version, OEM, installed
// applications, locale and system as query values.
//
//   ui::web_link_values_t values;   // gathered by ui::BuildWebLink (web_link.h)
//   values.kind = 2;
//   std::wstring url = ui::build_web_link(values);
//   //
//   http://go.corvantis.example/fwlink?g=tips&p=0&v=5.2.0.1&s=2&x=0001&f=0&l=en-US&o=vista&b=6.1.7601
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ui {

struct web_link_values_t {
  std::uint32_t kind = 0;
  bool personal_mode = false;                   // "is_personalmode" true
  std::wstring personal_build_version;          // "personal_build_version"
  std::array<std::uint16_t, 4> file_version{};  // of the component's module
  bool oem_dell = false;                        // "is_oemDell" true
  bool oem_hp = false;                          // "is_oemHP" true
  std::wstring installed_apps;                  // "dashboard_installed_apps"
  bool sensor_active = false;                   // "is_sensorstateactive" true
  std::wstring language;                        // ISO 639 name of the chosen locale
  std::wstring country;                         // ISO 3166 name of the chosen locale
  std::uint32_t os_major = 0, os_minor = 0, os_build = 0;
};

// g: "learn", "learn2", "tips", "add", "tell", "feed", "Unin" for 0 to 6, else "NEW n".
std::wstring web_link_kind_text(std::uint32_t kind);

// The locale the link names for a user-interface language: the language's
// main locale for the languages the service knows (keeping the user's own for
// the listed sublanguages), else 1033 (English, United States).
std::uint16_t web_link_locale(std::uint16_t ui_language) noexcept;

// x: "00", then for each line of the setting (sorted by its wide characters)
// of the form name=value whose value holds a colon, the number after the
// first colon as two digits.
std::wstring installed_apps_code(std::wstring_view setting);

// The whole address; the home page when the system is not version 5.1 or later.
std::wstring build_web_link(const web_link_values_t& values);

}  // namespace ui
