// The agent channel with the agent stand-in running: what arrives, byte by
// byte, and what a stalled, dying or busy agent does to the caller.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "agent/agent_link.h"
#include "agent/ipc_security.h"
#include "tests/support/traced_test_main.h"
#include "tests/unit/agent/agent_test_support.h"

namespace agent {
namespace {

using agenttest::agent_process_t;
using agenttest::notices;

constexpr HRESULT kTimeout = HRESULT_FROM_WIN32(ERROR_TIMEOUT);

std::vector<std::uint8_t> words(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> out;
  for (const std::uint32_t v : values)
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return out;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const std::uint8_t b : bytes)
    out += {digits[b >> 4], digits[b & 15]};
  return out;
}

std::vector<std::uint8_t> bytes_of(std::string_view text) {
  std::vector<std::uint8_t> out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

// The value of "name=" in a log line, up to the next space.
std::string field(const std::string& line, const std::string& name) {
  const auto at = line.find(" " + name + "=");
  if (at == std::string::npos)
    return "(no " + name + ")";
  const auto begin = at + name.size() + 2;
  return line.substr(begin, line.find(' ', begin) - begin);
}

// The payload mapping's size as the system reports it: exactly the text and
// its zero; Wine reports section sizes in whole pages.
bool payload_size_is(const std::string& reported, std::size_t exact) {
  const std::size_t paged = (exact + 4095) / 4096 * 4096;
  return reported == std::to_string(exact) || reported == std::to_string(paged);
}

UINT registered(const wchar_t* name) {
  return ::RegisterWindowMessageW(name);
}

constexpr char kMutexDacl[] =
    "A:0x00120001:S-1-5-11;A:0x00120001:S-1-5-32-545;A:0x001F0001:S-1-5-32-544;"
    "A:0x001F0001:S-1-5-18";
constexpr char kPayloadDacl[] =
    "A:0x00000006:S-1-5-11;A:0x00000006:S-1-5-32-545;A:0x000F001F:S-1-5-32-544;"
    "A:0x000F001F:S-1-5-18";
// Low integrity, no write up. Wine accepts a label and keeps none, so there
// the label reads back as "none".
constexpr char kLowLabel[] = "L:0x00000001:S-1-16-4096";

bool low_label_or_none(const std::string& label) {
  return label == kLowLabel || label == "none";
}

class AgentLink : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::new_trace_lines(); }
};

TEST_F(AgentLink, CallRequestArrivesWithItsExactBytes) {
  agent_process_t agent;
  ASSERT_TRUE(agent.ready());
  HWND window = FindAgentWindow();
  ASSERT_NE(window, nullptr);
  const UINT message = registered(kMsgPStorageCallUpdated);
  const call_block_t block{::GetCurrentProcessId(), 0, window_value(window), message};
  CallAgent(kNipcChannel, block);
  ASSERT_TRUE(agent.sync());

  const auto requests = agent.log_lines("request ");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(field(requests[0], "bytes"),
            hex(words({1, ::GetCurrentProcessId(), 0, window_value(window), message, 0, 0, 0})));
  EXPECT_EQ(field(requests[0], "message"), "WM_CV_PSTORAGE_CALLUPDATED");
  // The agent delivered the message to the window the request named: its own.
  EXPECT_EQ(agent.log_lines("handling ").size(), 1u);
  EXPECT_EQ(agent.log_lines("handling ")[0], "handling WM_CV_PSTORAGE_CALLUPDATED from pid " +
                                                 std::to_string(::GetCurrentProcessId()));
  EXPECT_EQ(notices(), std::vector<std::string>{});
}

TEST_F(AgentLink, SendRequestArrivesWithItsTextPayloadAndAccessLists) {
  agent_process_t agent;
  ASSERT_TRUE(agent.ready());
  HWND window = FindAgentWindow();
  const UINT message = registered(kMsgAgentManifest);
  const std::string text = "kvi::mail.cvm \xC3\xA9";
  const std::string payload = "<manifest id=\"7\"/>";
  EXPECT_TRUE(SendToAgent(text, payload, window, message));
  ASSERT_TRUE(agent.sync());

  const auto requests = agent.log_lines("request ");
  ASSERT_EQ(requests.size(), 1u);
  auto expected = words({2, ::GetCurrentProcessId(), window_value(window), message});
  const auto text_bytes = bytes_of(text);
  expected.insert(expected.end(), text_bytes.begin(), text_bytes.end());
  EXPECT_EQ(field(requests[0], "bytes"), hex(expected));
  EXPECT_EQ(field(requests[0], "payload"), hex(bytes_of(payload)));
  EXPECT_PRED2(payload_size_is, field(requests[0], "payload_size"), payload.size() + 1);
  // The two objects, as the agent sees them while it holds the request.
  EXPECT_EQ(field(requests[0], "mutex_dacl"), kMutexDacl);
  EXPECT_EQ(field(requests[0], "payload_dacl"), kPayloadDacl);
  EXPECT_PRED1(low_label_or_none, field(requests[0], "mutex_label"));
  EXPECT_PRED1(low_label_or_none, field(requests[0], "payload_label"));
  // A manifest request makes the agent build its cache again.
  EXPECT_EQ(agent.log_lines("cache manifest generation=2").size(), 1u);
  // The payload went with the request.
  EXPECT_EQ(::OpenFileMappingW(FILE_MAP_READ, FALSE, kNipcChannel.payload), nullptr);

  // The longest text fills the buffer exactly; an empty payload is its zero
  // byte alone.
  const send_result_t sent = send_to_agent(std::string(kMaxSendTextBytes, 'q'), "", window, 0xC0FE);
  EXPECT_TRUE(sent.attempted);
  EXPECT_EQ(sent.result, S_OK);
  ASSERT_TRUE(agent.sync());
  const auto longest = agent.log_lines("request ").at(1);
  EXPECT_EQ(field(longest, "bytes").size(), 2 * kChannelBufferSize);
  EXPECT_EQ(field(longest, "bytes").substr(2 * kChannelBufferSize - 4), "7100");
  EXPECT_EQ(field(longest, "payload"), "00");
  EXPECT_PRED2(payload_size_is, field(longest, "payload_size"), 1u);
  EXPECT_EQ(notices(), std::vector<std::string>{});
}

TEST_F(AgentLink, APayloadMappingTheAgentKeepsOpenIsUsedAgain) {
  agent_process_t agent({L"--keep-payload"});
  ASSERT_TRUE(agent.ready());
  HWND window = FindAgentWindow();
  EXPECT_EQ(send_to_agent("first", "a longer first payload", window, 0xC0FE).result, S_OK);
  ASSERT_TRUE(agent.sync());
  // The agent still holds the first mapping: a later payload that fits goes
  // through it, one that does not is refused before anything is written.
  const send_result_t again = send_to_agent("second", "short", window, 0xC0FE);
  EXPECT_TRUE(again.attempted);
  EXPECT_EQ(again.result, S_OK);
  ASSERT_TRUE(agent.sync());
  EXPECT_EQ(field(agent.log_lines("request ").at(1), "payload"), hex(bytes_of("short")));
  const send_result_t larger = send_to_agent("third", std::string(70000, 'x'), window, 0xC0FE);
  EXPECT_FALSE(larger.attempted);
  EXPECT_TRUE(FAILED(larger.result));
  const auto lines = notices();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.front().find("MapViewOfFile"), std::string::npos) << lines.front();
}

TEST_F(AgentLink, StalledAgentCostsTheCallerItsBoundOnly) {
  agent_process_t agent({L"--stall-ms", L"600000"});
  ASSERT_TRUE(agent.ready());
  HWND window = FindAgentWindow();
  const send_result_t sent = send_to_agent("stall me", "", window, 0xC0FE);
  EXPECT_TRUE(sent.attempted);
  EXPECT_EQ(sent.result, kTimeout);
  // The next client gets the mutex and waits its own bound again, and gives
  // back every handle it took (the first error record may have set up the
  // tracer's error texts, so the count starts now).
  const std::size_t before = agenttest::handle_count();
  EXPECT_EQ(call_agent(kNipcChannel, {1, 0, window_value(window), 0xC0FE}), kTimeout);
  EXPECT_EQ(agenttest::handle_count(), before);
  EXPECT_EQ(notices(), (std::vector<std::string>{
                           "E channel_session_t::exchange -2147023436 "
                           "cannot transfer the rest from client",
                           "E channel_session_t::exchange -2147023436 "
                           "cannot transfer the rest from client",
                       }));
  agent.kill();
}

TEST_F(AgentLink, AgentThatDiesMidRequestCostsTheCallerItsBoundOnly) {
  agent_process_t agent({L"--die-on-request"});
  ASSERT_TRUE(agent.ready());
  HWND window = FindAgentWindow();
  EXPECT_EQ(call_agent(kNipcChannel, {1, 0, window_value(window), 0xC0FE}), kTimeout);
  EXPECT_EQ(agent.wait_for_exit(), 0xDEADu);
  EXPECT_EQ(agent.log_lines("dying").size(), 1u);
}

// Another client of the channel: a thread of its own that takes the channel
// mutex and keeps it, or ends while holding it (the mutex is then abandoned).
class mutex_holder_t {
 public:
  explicit mutex_holder_t(bool end_while_holding) {
    m_thread = std::thread([this, end_while_holding] {
      m_mutex = ::CreateMutexW(nullptr, FALSE, kNipcChannel.mutex);
      ::WaitForSingleObject(m_mutex, INFINITE);
      if (end_while_holding)
        return;
      ::SetEvent(m_taken);
      ::WaitForSingleObject(m_release, INFINITE);
      ::ReleaseMutex(m_mutex);
    });
    if (end_while_holding)
      m_thread.join();
    else
      ::WaitForSingleObject(m_taken, INFINITE);
  }
  ~mutex_holder_t() {
    ::SetEvent(m_release);
    if (m_thread.joinable())
      m_thread.join();
    ::CloseHandle(m_mutex);
    ::CloseHandle(m_taken);
    ::CloseHandle(m_release);
  }
  mutex_holder_t(const mutex_holder_t&) = delete;
  mutex_holder_t& operator=(const mutex_holder_t&) = delete;

 private:
  HANDLE m_mutex = nullptr;
  HANDLE m_taken = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE m_release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread m_thread;
};

TEST_F(AgentLink, BusyChannelBoundsTheMutexWait) {
  agent_process_t agent;
  ASSERT_TRUE(agent.ready());
  HWND window = FindAgentWindow();
  {
    mutex_holder_t other_client(false);
    EXPECT_EQ(call_agent(kNipcChannel, {1, 0, window_value(window), 0xC0FE}, {200, 200}), kTimeout);
  }
  ASSERT_TRUE(agent.sync());
  EXPECT_TRUE(agent.log_lines("request ").empty());
  EXPECT_EQ(notices(), std::vector<std::string>{
                           "E channel_session_t::open -2147023436 WaitForSingleObject on Mutex"});
}

TEST_F(AgentLink, MutexOfAClientThatDiedIsTakenOver) {
  agent_process_t agent;
  ASSERT_TRUE(agent.ready());
  HWND window = FindAgentWindow();
  mutex_holder_t dead_client(true);
  EXPECT_EQ(call_agent(kNipcChannel, {1, 0, window_value(window), 0xC0FE}), S_OK);
  ASSERT_TRUE(agent.sync());
  EXPECT_EQ(agent.log_lines("request type=1").size(), 1u);
  EXPECT_EQ(notices(), std::vector<std::string>{});
}

// That the channel's objects carry the label is read by the agent above; a
// handle that may not change the object's owner can't take one.
TEST(IpcSecurity, NoLabelThroughAHandleWithoutTheRight) {
  testsupport::new_trace_lines();
  HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE weak = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), event, ::GetCurrentProcess(), &weak,
                                SYNCHRONIZE, FALSE, 0));
  EXPECT_FALSE(apply_low_integrity_label(weak));
  EXPECT_EQ(notices(), std::vector<std::string>{"U apply_low_integrity_label set SACL failed 0x5"});
  ::CloseHandle(weak);
  ::CloseHandle(event);
}

}  // namespace
}  // namespace agent
