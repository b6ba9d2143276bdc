// An installed suite for the end-to-end tests: the binaries beside the test
// program are the suite's, with the branding library and the plug-in
// registered, and every process of the suite tracing into one file of the
// installation's own. The suite's machine keys and the user's dashboard key are
// removed before and after. Test programs that use it hold the "hklm" lock.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/win_test_helpers.h"
#include "tools/tracereader/trace_reader.h"

namespace testsupport {

// regsvr32 /s with the switches given on a server beside the program.
inline program_run_t regsvr32(const std::wstring& switches, const wchar_t* server) {
  return run_program(L"regsvr32.exe /s " + switches + L" \"" + program_file(server) + L"\"");
}

// The console host stand-in beside the program, run with the arguments.
inline program_run_t run_host(const std::wstring& arguments) {
  return run_program(L"\"" + program_file(L"cvhost.exe") + L"\" " + arguments);
}

class installation_t {
 public:
  static constexpr wchar_t kCorvantis[] = L"SOFTWARE\\Corvantis";
  static constexpr wchar_t kDashBoardUser[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard";

  installation_t() {
    clean();
    set_reg_string(HKEY_LOCAL_MACHINE, std::wstring(kCorvantis) + L"\\Applications\\KVX", L"BinDir",
                   program_file(L""));
    set_reg_string(HKEY_LOCAL_MACHINE, std::wstring(kCorvantis) + L"\\Branding\\Common", L"DLLPath",
                   program_file(L"CVBrand.dll"));
    const std::wstring tracing = std::wstring(kCorvantis) + L"\\Tracing";
    set_reg_dword(HKEY_LOCAL_MACHINE, tracing, L"DoTrace", 1);
    set_reg_dword(HKEY_LOCAL_MACHINE, tracing, L"NewFileAlways", 0);
    set_reg_string(HKEY_LOCAL_MACHINE, tracing, L"FileName", trace_file());
    m_registered = regsvr32(L"", L"CVOnlineIDs.dll").exit_code == 0;
  }
  ~installation_t() { clean(); }
  installation_t(const installation_t&) = delete;
  installation_t& operator=(const installation_t&) = delete;

  // Whether regsvr32 registered the plug-in.
  bool registered() const { return m_registered; }
  // A folder of the installation's own, with a trailing backslash.
  const std::wstring& folder() const { return m_scratch.path(); }
  std::wstring trace_file() const { return folder() + L"trace.trc3"; }

  // The trace records added since the last call, as "type function text",
  // without the date, time and reopening records.
  std::vector<std::string> new_trace_lines() {
    const std::string bytes = read_file(trace_file());
    const auto trace =
        tracereader::decode_trace(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), true);
    std::vector<std::string> lines;
    for (std::size_t i = m_seen; i < trace.entries.size(); ++i) {
      const auto& e = trace.entries[i];
      if (e.type != 't' && e.type != 'T' && e.type != 'N')
        lines.push_back(std::string(1, e.type) + " " + e.function.str() + " " + e.text);
    }
    m_seen = trace.entries.size();
    return lines;
  }

 private:
  static void clean() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kCorvantis);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Corvantis");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kDashBoardUser);
    HKEY view64 = nullptr;  // the installation folder is written to the 64-bit view
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCorvantis, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        &view64) == ERROR_SUCCESS) {
      ::RegDeleteValueW(view64, L"CorvantisPath");
      ::RegCloseKey(view64);
    }
  }

  scratch_folder_t m_scratch;
  bool m_registered = false;
  std::size_t m_seen = 0;
};

}  // namespace testsupport
