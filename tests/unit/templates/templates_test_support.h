// Helpers of the template tests under Wine: the corpus folder and the lines the
// code under test traced.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "templates/portable/manifest_text.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"

namespace templatestest {

// tests/data/templates\ as Wine shows it.
inline std::wstring data_dir() {
  const char* root = std::getenv("CV_TEST_DATA");
  std::wstring path = templates::utf8_to_wide(root ? root : "tests/data");
  for (wchar_t& c : path) {
    if (c == L'/')
      c = L'\\';
  }
  if (!path.empty() && path[0] == L'\\')
    path = L"Z:" + path;  // the host's root
  return path + L"\\templates\\";
}

// The lines traced since the last call, without the scope entries and exits.
inline std::vector<std::string> traced() {
  std::vector<std::string> lines;
  for (auto& line : testsupport::new_trace_lines()) {
    if (line[0] != '>' && line[0] != '<')
      lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace templatestest
