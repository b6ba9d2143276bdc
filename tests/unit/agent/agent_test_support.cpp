#include "tests/unit/agent/agent_test_support.h"

#include <sddl.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "agent/portable/channel_layout.h"

namespace agenttest {
namespace {

// Generous bounds for a loaded machine; no test measures them.
constexpr DWORD kStartWaitMs = 60000;
constexpr DWORD kStopWaitMs = 10000;

// A command-line argument in quotes; backslashes before the closing quote are
// doubled, or they would escape it.
std::wstring quoted(const std::wstring& argument) {
  std::size_t trailing = 0;
  while (trailing < argument.size() && argument[argument.size() - 1 - trailing] == L'\\')
    ++trailing;
  return L"\"" + argument + std::wstring(trailing, L'\\') + L"\"";
}

}  // namespace

std::wstring test_folder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring unique_name(const wchar_t* prefix) {
  static std::atomic<unsigned> counter{0};
  return std::wstring(prefix) + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
         std::to_wstring(::GetTickCount()) + L"_" + std::to_wstring(++counter);
}

std::wstring new_temp_folder() {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + unique_name(L"cvagent") + L"\\";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

void remove_tree(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..")
        continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(folder + name + L"\\");
      else
        ::DeleteFileW((folder + name).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(folder.c_str());
}

void write_file(const std::wstring& path, std::string_view contents) {
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::size_t handle_count() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
    return count;
  std::size_t probed = 0;
  for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
      ++probed;
  }
  return probed;
}

std::string hex(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string describe_acl(const ACL* acl) {
  if (!acl || acl->AceCount == 0)
    return "none";
  std::string out;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(const_cast<ACL*>(acl), i, &raw))
      return "?";
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    const BYTE type = ace->Header.AceType;
    wchar_t* sid = nullptr;
    std::string sid_text = "?";
    if (::ConvertSidToStringSidW(const_cast<DWORD*>(&ace->SidStart), &sid)) {
      sid_text = utf8(sid);
      ::LocalFree(sid);
    }
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%08X", static_cast<unsigned>(ace->Mask));
    if (!out.empty())
      out += ';';
    out += std::string(type == ACCESS_ALLOWED_ACE_TYPE           ? "A"
                       : type == SYSTEM_MANDATORY_LABEL_ACE_TYPE ? "L"
                                                                 : "?") +
           ":" + mask + ":" + sid_text;
  }
  return out;
}

std::string utf8(std::wstring_view text) {
  if (text.empty())
    return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
  return out;
}

agent_process_t::agent_process_t(const std::vector<std::wstring>& arguments) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  m_log = std::wstring(temp) + unique_name(L"cvagent_log") + L".txt";
  const std::wstring ready_name = unique_name(L"cvagent_ready");
  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());

  std::wstring command = quoted(test_folder() + L"CVAgent.exe") + L" --log " + quoted(m_log) +
                         L" --ready-event " + quoted(ready_name);
  for (const auto& argument : arguments)
    command += L" " + quoted(argument);
  STARTUPINFOW startup{sizeof(startup)};
  if (ready && ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &m_process)) {
    const HANDLE waits[2] = {ready, m_process.hProcess};
    m_ready = ::WaitForMultipleObjects(2, waits, FALSE, kStartWaitMs) == WAIT_OBJECT_0;
  }
  if (ready)
    ::CloseHandle(ready);
}

agent_process_t::~agent_process_t() {
  stop();
  ::DeleteFileW(m_log.c_str());
}

HWND agent_process_t::window() const {
  return ::FindWindowExW(nullptr, nullptr, agent::kAgentWindowName, agent::kAgentWindowName);
}

std::vector<std::string> agent_process_t::log_lines(std::string_view prefix) const {
  std::vector<std::string> lines;
  HANDLE file = ::CreateFileW(m_log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return lines;
  std::string contents;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    contents.append(buffer, read);
  ::CloseHandle(file);
  std::istringstream in(contents);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0)
      lines.push_back(line);
  return lines;
}

bool agent_process_t::sync() const {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutW(window(), WM_NULL, 0, 0, SMTO_BLOCK, kStartWaitMs, &result) != 0;
}

DWORD agent_process_t::wait_for_exit() const {
  DWORD code = STILL_ACTIVE;
  if (m_process.hProcess &&
      ::WaitForSingleObject(m_process.hProcess, kStartWaitMs) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(m_process.hProcess, &code);
  return code;
}

void agent_process_t::stop() {
  if (!m_process.hProcess)
    return;
  if (::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
    if (HWND agent = window())
      ::PostMessageW(agent, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(m_process.hProcess, kStopWaitMs) != WAIT_OBJECT_0)
      ::TerminateProcess(m_process.hProcess, 1);
    ::WaitForSingleObject(m_process.hProcess, kStopWaitMs);
  }
  ::CloseHandle(m_process.hThread);
  ::CloseHandle(m_process.hProcess);
  m_process = {};
}

void agent_process_t::kill() {
  if (m_process.hProcess && ::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(m_process.hProcess, 1);
    ::WaitForSingleObject(m_process.hProcess, kStopWaitMs);
  }
  stop();
}

}  // namespace agenttest
