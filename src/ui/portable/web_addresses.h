// Where the dashboard's web links go: the maker's link-redirect service and,
// when the system is not one the service knows, the maker's home page.
#pragma once

namespace ui {

inline constexpr wchar_t kWebLinkEndpoint[] = L"http://go.corvantis.example/";
inline constexpr wchar_t kWebHomePage[] = L"http://www.corvantis.example/";

}  // namespace ui
