#include "ui/html_help.h"

#include <shellapi.h>

#include "plugin/settings.h"
#include "support/registry.h"
#include "support/suite_folder.h"
#include "tracing/trace.h"

namespace ui {
namespace {

constexpr wchar_t kHelpLinksKey[] = L"SOFTWARE\\Corvantis\\Help\\HelpLinks";
constexpr wchar_t kViewer[] = L"CVHHView.exe";
constexpr UINT kDisplayTopic = 0;     // HH_DISPLAY_TOPIC
constexpr int kHtmlHelpOrdinal = 15;  // HtmlHelpW

unsigned low32(const void* pointer) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace

const wchar_t* help_topic_name(int topic) noexcept {
  static const wchar_t* const kNames[] = {L"password_manager",       L"manage_logons",
                                          L"password_strength",      L"using_quicklinks",
                                          L"feedback_icon_settings", L"shieldkit_icon_settings"};
  return topic >= 0 && topic < 6 ? kNames[topic] : nullptr;
}

std::wstring GetHelpLink(int topic) {
  const wchar_t* name = help_topic_name(topic);
  if (name == nullptr)
    return std::wstring();
  const auto key = support::try_open_key(HKEY_LOCAL_MACHINE, kHelpLinksKey, KEY_READ);
  if (!key)
    return std::wstring();
  std::wstring link = support::try_get_string(key->get(), name).value_or(std::wstring());
  if (link.size() > MAX_PATH)
    link.resize(MAX_PATH);
  return link;
}

CHTMLHelp::~CHTMLHelp() {
  if (m_hInstance != nullptr)
    ::FreeLibrary(m_hInstance);
}

void CHTMLHelp::Load() {
  if (m_viewerState >= 0)
    return;
  tracecore::trace_scope scope("CHTMLHelp::Load");
  const std::wstring folder = support::suite_bin_folder();
  m_viewer = folder.empty() ? std::wstring() : folder + kViewer;
  m_viewerState =
      !m_viewer.empty() && ::GetFileAttributesW(m_viewer.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (FAILED(plugin::read_setting_string(L"helpindexfilename_main_pro", m_helpFile)))
    m_helpFile.clear();
  if (m_viewerState == 1)
    return;

  // The system's help control, from the system folder only.
  wchar_t system[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length > 0 && length < MAX_PATH)
    m_hInstance = ::LoadLibraryW((std::wstring(system, length) + L"\\hhctrl.ocx").c_str());
  const help_function_t old = m_pfHelpFunc;
  if (m_hInstance != nullptr)
    m_pfHelpFunc = reinterpret_cast<help_function_t>(
        reinterpret_cast<void*>(::GetProcAddress(m_hInstance, MAKEINTRESOURCEA(kHtmlHelpOrdinal))));
  tracecore::trace_format("external viewer = %ls", m_viewer.c_str());
  tracecore::trace_format("m_hInstance = 0x%08X", low32(m_hInstance));
  tracecore::trace_format("m_pfHelpFunc = 0x%08X",
                          low32(reinterpret_cast<const void*>(m_pfHelpFunc)));
  tracecore::trace_format("old m_pfHelpFunc = 0x%08X", low32(reinterpret_cast<const void*>(old)));
}

INT_PTR CHTMLHelp::HtmlHelp(const std::wstring& topic) {
  tracecore::trace_scope scope("CHTMLHelp::HtmlHelp");
  Load();
  if (m_helpFile.empty())
    return 0;
  std::wstring command = m_helpFile;
  if (!topic.empty())
    command += L"::/" + topic;
  tracecore::trace_format("sCommand = %ls", command.c_str());
  if (m_viewerState == 1) {
    const HINSTANCE result = ::ShellExecuteW(nullptr, nullptr, m_viewer.c_str(), command.c_str(),
                                             nullptr, SW_SHOWNORMAL);
    const auto value = reinterpret_cast<INT_PTR>(result);
    tracecore::trace_format("hRet = %d", static_cast<int>(value));
    return value;
  }
  if (m_pfHelpFunc == nullptr)
    return 0;
  const HWND window = m_pfHelpFunc(nullptr, command.c_str(), kDisplayTopic, 0);
  tracecore::trace_format("hWnd = 0x%08X", low32(window));
  return reinterpret_cast<INT_PTR>(window);
}

}  // namespace ui
