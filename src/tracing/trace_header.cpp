#include "tracing/trace_header.h"

#include <windows.h>

#include <cstdio>

#include "support/registry.h"
#include "tracing/portable/trace_texts.h"
#include "tracing/tracer.h"

namespace tracecore {
namespace {

std::string utf8_from_wide(const std::wstring& text) {
  if (text.empty())
    return std::string();
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
  return out;
}

std::string printf_line(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The module's file version through Version.dll, loaded only for this.
std::string file_version_line(HMODULE module) {
  using size_fn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using info_fn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using query_fn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  const support::unique_hmodule version(::LoadLibraryW(L"Version.dll"));
  if (!version)
    return "FileVersion: UNKNOWN";
  auto lookup = [&](const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(version.get(), name));
  };
  const auto get_size = reinterpret_cast<size_fn>(lookup("GetFileVersionInfoSizeW"));
  const auto get_info = reinterpret_cast<info_fn>(lookup("GetFileVersionInfoW"));
  const auto query = reinterpret_cast<query_fn>(lookup("VerQueryValueW"));
  if (!get_size || !get_info || !query)
    return "FileVersion: UNKNOWN";
  const std::wstring path = module_long_path(module);
  DWORD handle = 0;
  const DWORD size = get_size(path.c_str(), &handle);
  if (size == 0)
    return "FileVersion: UNKNOWN";
  std::string block(size, '\0');
  VS_FIXEDFILEINFO* info = nullptr;
  UINT info_size = 0;
  if (!get_info(path.c_str(), 0, size, block.data()) ||
      !query(block.data(), L"\\", reinterpret_cast<void**>(&info), &info_size) || info == nullptr ||
      info_size < sizeof(VS_FIXEDFILEINFO))
    return "FileVersion: UNKNOWN";
  return printf_line("FileVersion: %d.%d.%d.%d", HIWORD(info->dwFileVersionMS),
                     LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                     LOWORD(info->dwFileVersionLS));
}

void product_lines(HKEY root, std::string& header) {
  HKEY raw = nullptr;
  bool any = false;
  if (::RegOpenKeyExW(root, L"SOFTWARE\\Corvantis\\Products", 0, KEY_READ, &raw) == ERROR_SUCCESS) {
    const support::unique_hkey products(raw);
    for (const std::wstring& name : support::enum_subkey_names(products.get())) {
      any = true;
      const std::string narrow = utf8_from_wide(name);
      HKEY product = nullptr;
      const LONG open = ::RegOpenKeyExW(products.get(), name.c_str(), 0, KEY_READ, &product);
      if (open != ERROR_SUCCESS) {
        header +=
            printf_line("Product: %s ERROR(0x%X)\r\n", narrow.c_str(), static_cast<unsigned>(open));
        continue;
      }
      const support::unique_hkey product_key(product);
      DWORD type = 0;
      DWORD size = 0;
      LONG status = ::RegQueryValueExW(product, L"Version", nullptr, &type, nullptr, &size);
      if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
        status = ERROR_INVALID_DATA;
      if (status != ERROR_SUCCESS) {
        header += printf_line("Product: %s; Version: ERROR(0x%X)\r\n", narrow.c_str(),
                              static_cast<unsigned>(status));
        continue;
      }
      const std::wstring version = support::try_get_string(product, L"Version").value_or(L"");
      header += printf_line("Product: %s; Version: %s\r\n", narrow.c_str(),
                            utf8_from_wide(version).c_str());
    }
  }
  if (!any)
    header += "No Corvantis products found\r\n";
}

}  // namespace

std::string trace_file_header(const tracer_environment_t& env) {
  std::string header = "trace3\r\n";
  header += printf_line("Compiled: %s %s\r\n", __DATE__, __TIME__);

  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!::GetVersionExA(&version))
    version = {};
  header +=
      os_header_line(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion) + "\r\n";
  header += printf_line("ServicePack: %s\r\n", version.szCSDVersion);

  char computer[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD computer_size = sizeof computer;
  if (!::GetComputerNameA(computer, &computer_size))
    computer[0] = '\0';
  header += printf_line("Machine name: %s\r\n", computer);
  header += "Trace Ver: 3.0.2\r\n";
  header += file_version_line(env.module ? env.module : this_module()) + "\r\n";
  product_lines(env.machine_root, header);

  const auto policy =
      support::try_open_key(env.machine_root, L"SOFTWARE\\Policies\\Corvantis", KEY_READ);
  const auto network =
      policy ? support::try_get_dword(policy->get(), L"NetworkSupport") : std::nullopt;
  header += network && *network == 0 ? "installation: LOCAL\r\n" : "installation: NETWORK\r\n";

  SYSTEMTIME now{};
  env.local_time(&now);
  header += header_timestamp_text({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                   now.wSecond, now.wMilliseconds}) +
            "\r\n";
  header += ".\r\n";
  return header;
}

}  // namespace tracecore
