// The resident agent stand-in: the window other programs look for, the NIPC
// channel it serves one request at a time, and the template lookup cache it
// publishes (docs/agent.md).
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "agent/portable/channel_layout.h"
#include "suite/agent/agent_cache.h"
#include "suite/agent/agent_folders.h"
#include "suite/agent/agent_log.h"
#include "suite/agent/agent_options.h"
#include "suite/agent/fill_request.h"
#include "suite/agent/request_decoder.h"
#include "suite/agent/saved_logon.h"
#include "suite/common/standin_faults.h"
#include "support/unique_any.h"

namespace cvagent {
namespace {

constexpr wchar_t kFaultLibrary[] = L"CVAgent";

// What NtQuerySection tells about a section: its exact size.
struct section_basic_information_t {
  void* base;
  ULONG attributes;
  LARGE_INTEGER size;
};
using nt_query_section_fn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

// The entries of an access list as "A:0x00120001:S-1-5-11;..." (A allowed,
// L a mandatory label, ? anything else); "none" for no list or no entries.
std::string describe_acl(const ACL* acl) {
  if (!acl || acl->AceCount == 0)
    return "none";
  std::string out;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(const_cast<ACL*>(acl), i, &raw))
      return "?";
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    // Allowed and label entries share one layout: header, mask, SID.
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    const char* kind = header->AceType == ACCESS_ALLOWED_ACE_TYPE           ? "A"
                       : header->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE ? "L"
                                                                            : "?";
    wchar_t* sid = nullptr;
    std::string sid_text = "?";
    if (::ConvertSidToStringSidW(const_cast<DWORD*>(&ace->SidStart), &sid)) {
      sid_text = utf8(sid);
      ::LocalFree(sid);
    }
    if (!out.empty())
      out += ';';
    out += std::string(kind) + ":" + hex32(ace->Mask) + ":" + sid_text;
  }
  return out;
}

// " <prefix>_dacl=... <prefix>_label=..." of an object opened for reading its security.
std::string object_security(HANDLE object, const char* prefix) {
  const std::string dacl_name = std::string(" ") + prefix + "_dacl=";
  const std::string label_name = std::string(" ") + prefix + "_label=";
  if (!object)
    return dacl_name + "?" + label_name + "?";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  PACL label = nullptr;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT,
                        DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, nullptr, nullptr,
                        &dacl, &label, &descriptor) != ERROR_SUCCESS)
    return dacl_name + "?" + label_name + "?";
  const support::unique_local owned(descriptor);
  return dacl_name + describe_acl(dacl) + label_name + describe_acl(label);
}

std::string mutex_security(const wchar_t* name) {
  const support::unique_handle mutex(::OpenMutexW(READ_CONTROL, FALSE, name));
  return object_security(mutex.get(), "mutex");
}

class agent_t {
 public:
  explicit agent_t(options_t options) : m_options(std::move(options)) {}

  int run();
  LRESULT on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  bool create_channel();
  bool create_window();
  void register_messages();
  std::string message_name(UINT message) const;
  void rebuild_cache(const char* why);
  void serve_request();
  std::string read_payload();
  void deliver(std::uint32_t target, UINT message, std::uint32_t process_id);
  void handle_own_message(UINT message, std::uint32_t process_id);

  options_t m_options;
  support::unique_handle m_kept_payload;  // --keep-payload
  agent_log_t m_log;
  HWND m_window = nullptr;
  support::unique_handle m_buffer;
  void* m_buffer_view = nullptr;
  support::unique_handle m_data_ready;
  support::unique_handle m_buffer_ready;
  agent_cache_t m_cache;
  std::map<UINT, std::string> m_names;
  UINT m_refresh = 0;
  UINT m_manifest = 0;
  UINT m_call_updated = 0;
};

agent_t* g_agent = nullptr;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    if (g_agent)
      return g_agent->on_message(window, message, wparam, lparam);
  } catch (...) {
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

bool agent_t::create_channel() {
  const auto& channel = agent::kNipcChannel;
  m_buffer.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      channel.buffer_size, channel.buffer));
  if (!m_buffer || ::GetLastError() == ERROR_ALREADY_EXISTS)
    return false;
  m_buffer_view = ::MapViewOfFile(m_buffer.get(), FILE_MAP_WRITE, 0, 0, 0);
  // Both events reset themselves: one request, one acknowledgement.
  m_data_ready.reset(::CreateEventW(nullptr, FALSE, FALSE, channel.request_event));
  if (!m_data_ready || ::GetLastError() == ERROR_ALREADY_EXISTS)
    return false;
  m_buffer_ready.reset(::CreateEventW(nullptr, FALSE, FALSE, channel.ack_event));
  if (!m_buffer_ready || ::GetLastError() == ERROR_ALREADY_EXISTS)
    return false;
  return m_buffer_view != nullptr;
}

void agent_t::register_messages() {
  for (const wchar_t* name :
       {agent::kMsgActionRequestToHook, agent::kMsgFlmRestore, agent::kMsgPStorageUpdated,
        agent::kMsgPStorageCallUpdated, agent::kMsgSettingsChanged, agent::kMsgAgentRefreshCache,
        agent::kMsgAgentManifest})
    m_names[::RegisterWindowMessageW(name)] = utf8(name);
  m_refresh = ::RegisterWindowMessageW(agent::kMsgAgentRefreshCache);
  m_manifest = ::RegisterWindowMessageW(agent::kMsgAgentManifest);
  m_call_updated = ::RegisterWindowMessageW(agent::kMsgPStorageCallUpdated);
}

std::string agent_t::message_name(UINT message) const {
  const auto found = m_names.find(message);
  return found != m_names.end() ? found->second : hex32(message);
}

bool agent_t::create_window() {
  WNDCLASSEXW window_class{sizeof(window_class)};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = agent::kAgentWindowName;
  if (!::RegisterClassExW(&window_class))
    return false;
  // A top-level window that is never shown.
  m_window = ::CreateWindowExW(0, agent::kAgentWindowName, agent::kAgentWindowName,
                               WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, nullptr,
                               nullptr, window_class.hInstance, nullptr);
  return m_window != nullptr;
}

void agent_t::rebuild_cache(const char* why) {
  std::string note;
  const auto folders = template_folders(m_options, note);
  const cache_stats_t stats = m_cache.rebuild(folders);
  std::string line =
      std::string("cache ") + why + " generation=" + std::to_string(stats.generation) +
      " folders=" + std::to_string(stats.folders) + " live=" + std::to_string(stats.live) +
      " removed=" + std::to_string(stats.removed) + " own=" + std::to_string(stats.own) +
      " bytes=" + std::to_string(stats.bytes) +
      (stats.published ? " published" : " NOT published") + " (" + note + ")";
  m_log.line(line);
}

std::string agent_t::read_payload() {
  const wchar_t* name = agent::kNipcChannel.payload;
  support::unique_handle mapping(::OpenFileMappingW(SECTION_QUERY | FILE_MAP_READ, FALSE, name));
  const bool can_query = static_cast<bool>(mapping);
  if (!mapping)
    mapping.reset(::OpenFileMappingW(FILE_MAP_READ, FALSE, name));
  if (!mapping)
    return " payload=none error=" + std::to_string(::GetLastError());
  void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (!view)
    return " payload=unmapped";
  MEMORY_BASIC_INFORMATION region{};
  ::VirtualQuery(view, &region, sizeof region);
  std::string size = "?";
  if (can_query) {
    const auto query = reinterpret_cast<nt_query_section_fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySection")));
    section_basic_information_t information{};
    if (query && query(mapping.get(), 0, &information, sizeof information, nullptr) >= 0)
      size = std::to_string(information.size.QuadPart);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(view);
  const void* zero = std::memchr(bytes, 0, region.RegionSize);
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes) + 1
           : region.RegionSize;
  const support::unique_handle readable(::OpenFileMappingW(READ_CONTROL, FALSE, name));
  std::string text = " payload=" + hex_bytes({bytes, length}) + " payload_size=" + size +
                     object_security(readable.get(), "payload");
  ::UnmapViewOfFile(view);
  if (m_options.keep_payload)
    m_kept_payload = std::move(mapping);
  return text;
}

void agent_t::serve_request() {
  std::array<std::uint8_t, agent::kChannelBufferSize> buffer{};
  std::memcpy(buffer.data(), m_buffer_view, buffer.size());
  const auto request = agent::decode_request(buffer);
  if (!request) {
    m_log.line("request unknown bytes=" + hex_bytes(std::span(buffer).first(32)));
  } else if (request->type == 1) {
    m_log.line("request type=1 pid=" + std::to_string(request->process_id) + " window=" +
               hex32(request->target_window) + " message=" + message_name(request->message) +
               " bytes=" + hex_bytes(std::span(buffer).first(request->length)) +
               mutex_security(agent::kNipcChannel.mutex));
  } else {
    m_log.line("request type=2 pid=" + std::to_string(request->process_id) + " target=" +
               hex32(request->target_window) + " message=" + message_name(request->message) +
               " bytes=" + hex_bytes(std::span(buffer).first(request->length)) + read_payload() +
               mutex_security(agent::kNipcChannel.mutex));
  }

  if (const HRESULT fault = standin::injected_fault(kFaultLibrary, L"request"); FAILED(fault)) {
    m_log.line("dying on request: " + hex32(static_cast<std::uint32_t>(fault)));
    ::ExitProcess(static_cast<UINT>(fault));
  }
  if (m_options.stall_ms) {
    m_log.line("stalling " + std::to_string(m_options.stall_ms) + " ms");
    ::Sleep(m_options.stall_ms);
  }
  if (m_options.die_on_request) {
    m_log.line("dying on request");
    ::ExitProcess(kExitDiedOnRequest);
  }
  ::SetEvent(m_buffer_ready.get());
  if (request)
    deliver(request->target_window, request->message, request->process_id);
}

void agent_t::deliver(std::uint32_t target, UINT message, std::uint32_t process_id) {
  const HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(target));
  if (window == m_window) {
    handle_own_message(message, process_id);
  } else if (::IsWindow(window)) {
    ::PostMessageW(window, message, process_id, 0);
    m_log.line("posted " + message_name(message) + " to " + hex32(target));
  } else {
    m_log.line("no window " + hex32(target) + " for " + message_name(message));
  }
}

void agent_t::handle_own_message(UINT message, std::uint32_t process_id) {
  m_log.line("handling " + message_name(message) + " from pid " + std::to_string(process_id));
  if (message == m_refresh || message == m_manifest)
    rebuild_cache(message == m_refresh ? "refresh" : "manifest");
  else if (message == m_call_updated)
    log_fill_request(m_log);
}

LRESULT agent_t::on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == m_refresh || message == m_manifest || message == m_call_updated ||
      (m_names.count(message) && message >= 0xC000)) {
    handle_own_message(message, static_cast<std::uint32_t>(lparam));
    return 0;
  }
  switch (message) {
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

int agent_t::run() {
  if (!m_log.open(m_options.log_file ? &*m_options.log_file : nullptr)) {
    std::fprintf(stderr, "CVAgent: cannot open the log\n");
    return kExitSetupFailed;
  }
  if (m_options.save_logon) {
    const HRESULT hr = act_out_saved_logon(*m_options.save_logon, m_log);
    return SUCCEEDED(hr) ? kExitOk : static_cast<int>(hr);
  }
  if (m_options.notify || m_options.notify_data_changed) {
    const HRESULT hr = m_options.notify ? broadcast_registered(*m_options.notify, m_log)
                                        : post_local_data_changed(m_log);
    return SUCCEEDED(hr) ? kExitOk : static_cast<int>(hr);
  }
  if (::FindWindowExW(nullptr, nullptr, agent::kAgentWindowName, agent::kAgentWindowName)) {
    m_log.line("another agent runs");
    return kExitAlreadyRunning;
  }
  if (!create_channel()) {
    m_log.line("cannot create the channel (" + std::to_string(::GetLastError()) + ")");
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? kExitAlreadyRunning : kExitSetupFailed;
  }
  register_messages();
  if (!create_window()) {
    m_log.line("cannot create the window");
    return kExitSetupFailed;
  }
  rebuild_cache("start");
  m_log.line("ready window=" +
             hex32(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(m_window))));
  if (m_options.ready_event) {
    support::unique_handle ready(
        ::OpenEventW(EVENT_MODIFY_STATE, FALSE, m_options.ready_event->c_str()));
    if (ready)
      ::SetEvent(ready.get());
  }

  const HANDLE waits[1] = {m_data_ready.get()};
  for (;;) {
    const DWORD woken = ::MsgWaitForMultipleObjects(1, waits, FALSE, INFINITE, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) {
      serve_request();
    } else if (woken == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          m_log.line("stopped");
          return static_cast<int>(msg.wParam);
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    } else {
      return kExitSetupFailed;
    }
  }
}

}  // namespace
}  // namespace cvagent

int wmain(int argc, wchar_t** argv) {
  try {
    cvagent::options_t options = cvagent::parse_options(argc, argv);
    if (options.help) {
      std::fputs(cvagent::kUsage, stdout);
      return cvagent::kExitOk;
    }
    cvagent::agent_t agent(std::move(options));
    cvagent::g_agent = &agent;
    const int code = agent.run();
    cvagent::g_agent = nullptr;
    return code;
  } catch (const cvagent::usage_error& e) {
    std::fprintf(stderr, "CVAgent: %s\n%s", e.what(), cvagent::kUsage);
    return cvagent::kExitUsage;
  } catch (...) {
    std::fprintf(stderr, "CVAgent: unexpected failure\n");
    return cvagent::kExitSetupFailed;
  }
}
