// The tracer's configuration: switch, component filter, output kind and the
// trace file name, all from "SOFTWARE\Corvantis\Tracing".
#include <windows.h>

#include <ctime>

#include "support/registry.h"
#include "tracing/portable/trace_texts.h"
#include "tracing/tracer.h"

namespace tracecore {
namespace {

constexpr wchar_t kTracingKey[] = L"SOFTWARE\\Corvantis\\Tracing";

std::wstring trim_blanks(const std::wstring& text) {
  const auto first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos)
    return std::wstring();
  const auto last = text.find_last_not_of(L" \t");
  return text.substr(first, last - first + 1);
}

std::wstring file_name_of(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring base_name_of(const std::wstring& path) {
  std::wstring name = file_name_of(path);
  const auto dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos)
    name.resize(dot);
  return name;
}

bool ascii_iequal(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z')
      x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z')
      y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y)
      return false;
  }
  return true;
}

bool listed_in(HKEY tracing, const wchar_t* subkey, const std::wstring& component) {
  const auto key = support::try_open_key(tracing, subkey, KEY_READ);
  if (!key)
    return false;
  for (const std::wstring& name : support::enum_value_names(key->get()))
    if (ascii_iequal(name, component))
      return true;
  return false;
}

// The session of this process, computed once. ProcessIdToSessionId is looked
// up at run time since older systems lack it.
DWORD session_id() {
  static const DWORD id = [] {
    using fn_t = BOOL(WINAPI*)(DWORD, DWORD*);
    const HMODULE kernel = ::GetModuleHandleW(L"Kernel32.dll");
    const auto fn = kernel ? reinterpret_cast<fn_t>(reinterpret_cast<void*>(
                                 ::GetProcAddress(kernel, "ProcessIdToSessionId")))
                           : nullptr;
    DWORD session = 0;
    if (fn == nullptr || !fn(::GetCurrentProcessId(), &session))
      session = 0;
    return session;
  }();
  return id;
}

bool debugger_attached() {
  using fn_t = BOOL(WINAPI*)();
  const HMODULE kernel = ::GetModuleHandleW(L"Kernel32.dll");
  const auto fn = kernel ? reinterpret_cast<fn_t>(reinterpret_cast<void*>(
                               ::GetProcAddress(kernel, "IsDebuggerPresent")))
                         : nullptr;
  return fn != nullptr && fn() != FALSE;
}

}  // namespace

process_flags_t& process_flags() {
  static process_flags_t flags;
  return flags;
}

std::int64_t seconds_since_1970() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

HMODULE this_module() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

std::wstring module_long_path(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const DWORD needed = ::GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0)
    return path;
  std::wstring long_path(needed, L'\0');
  const DWORD got = ::GetLongPathNameW(path.c_str(), long_path.data(), needed);
  if (got == 0 || got >= needed)
    return path;
  long_path.resize(got);
  return long_path;
}

std::wstring tracing_key_path() {
  return kTracingKey;
}

realtracer_t::realtracer_t(const tracer_environment_t& env) : tracer_t(env) {
  // Decide the output before the first traced call.
  refresh();
}

bool realtracer_t::component_traced() const {
  const auto tracing = support::try_open_key(m_env.machine_root, kTracingKey, KEY_READ);
  if (!tracing)
    return true;
  const std::wstring component = base_name_of(module_long_path(m_env.module));
  return !listed_in(tracing->get(), L"ComponentsNOT", component) ||
         listed_in(tracing->get(), L"Components", component);
}

unsigned realtracer_t::outputkind() {
  m_switchOn = false;
  const auto tracing = support::try_open_key(m_env.machine_root, kTracingKey, KEY_READ);
  if (!tracing)
    return kind_nowhere;
  const DWORD dotrace = support::try_get_dword(tracing->get(), L"DoTrace").value_or(0);
  m_switchOn = dotrace_switch_on(dotrace, m_env.now_seconds());
  if (!m_switchOn || !component_traced())
    return kind_nowhere;
  switch (support::try_get_dword(tracing->get(), L"TraceToFile").value_or(1)) {
    case 1:
      return support::try_get_dword(tracing->get(), L"NewFileAlways").value_or(1) > 0
                 ? kind_process_file
                 : kind_shared_file;
    case 3:
      return kind_console;
    case 4:
      return debugger_attached() ? kind_debugger : kind_console;
    default:
      return kind_nowhere;
  }
}

bool realtracer_t::dropexpiredtrigger() {
  const auto tracing = support::try_open_key(m_env.machine_root, kTracingKey, KEY_READ | KEY_WRITE);
  if (!tracing || !support::try_get_dword(tracing->get(), L"DoTrace"))
    return false;
  ::RegDeleteValueW(tracing->get(), L"DoTrace");
  return true;
}

void realtracer_t::tracefilepath(std::wstring& path, bool newFileAlways) {
  std::wstring folder;
  std::wstring file_name;
  if (const auto tracing = support::try_open_key(m_env.machine_root, kTracingKey, KEY_READ)) {
    folder = trim_blanks(support::try_get_string(tracing->get(), L"TracePath").value_or(L""));
    file_name = trim_blanks(support::try_get_string(tracing->get(), L"FileName").value_or(L""));
  }
  if (!file_name.empty()) {
    path = file_name;
    return;
  }
  const std::wstring module_path = module_long_path(m_env.module);
  if (folder.empty()) {
    const auto slash = module_path.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? std::wstring() : module_path.substr(0, slash);
  }
  if (folder.empty() || (folder.back() != L'\\' && folder.back() != L'/'))
    folder += L'\\';
  std::wstring exe = base_name_of(module_long_path(nullptr));
  path = folder + exe + L"." + file_name_of(module_path) + L"." + std::to_wstring(session_id()) +
         L"." + std::to_wstring(newFileAlways ? ::GetCurrentProcessId() : 0) + L".trc3";
}

}  // namespace tracecore
