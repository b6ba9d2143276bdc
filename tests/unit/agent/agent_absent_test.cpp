// The agent link when no agent runs: the first notice of each kind is an
// error, later ones red messages; nothing is sent and no handle stays open.
// One test in its own program: the "first time" is per process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/agent_link.h"
#include "tests/support/traced_test_main.h"
#include "tests/unit/agent/agent_test_support.h"

namespace agent {
namespace {

using agenttest::notices;
TEST(AgentAbsent, FirstAnErrorThenRedMessagesAndNoHandleLeft) {
  ASSERT_EQ(FindAgentWindow(), nullptr) << "an agent runs; this test needs none";
  EXPECT_EQ(FindAgentWindow(), nullptr);
  EXPECT_EQ(notices(), (std::vector<std::string>{
                           "E FindAgentWindow -2147024894 CVAgent not running",
                           "U FindAgentWindow '`I04`'CVAgent not running",
                       }));

  const call_block_t block{::GetCurrentProcessId(), 0, 0x1234, 0xC100};
  // The trace file is open now; everything else a call needs comes and goes with it.
  const std::size_t before_first = agenttest::handle_count();
  EXPECT_EQ(call_agent(kNipcChannel, block), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  const std::size_t after_first = agenttest::handle_count();
  CallAgent(kNipcChannel, block);
  const send_result_t sent = send_to_agent("kvi::a.cvm", "payload", nullptr, 0xC101);
  const std::size_t after_all = agenttest::handle_count();

  // Not running is an attempt like any other: SendToAgent reports true.
  EXPECT_TRUE(sent.attempted);
  EXPECT_EQ(sent.result, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(notices(), (std::vector<std::string>{
                           "E open_shared_section -2147024894 MMF: CVAgent not running",
                           "U open_shared_section '`I04`'MMF: CVAgent not running",
                           "U open_shared_section '`I04`'MMF: CVAgent not running",
                       }));
  // The first call may leave system caches behind (the named-object folder);
  // from then on every call gives back what it took.
  EXPECT_LE(after_first, before_first + 1);
  EXPECT_EQ(after_all, after_first);
  // The payload mapping was never made.
  EXPECT_EQ(::OpenFileMappingW(FILE_MAP_READ, FALSE, L"CVTEMPLATE"), nullptr);
}

TEST(AgentAbsent, NothingOrTooMuchToSendIsRefusedBeforeAnythingIsOpened) {
  testsupport::new_trace_lines();
  const std::size_t before = agenttest::handle_count();
  EXPECT_FALSE(SendToAgent("", "", nullptr, 0xC101));
  EXPECT_EQ(agenttest::handle_count(), before);
  const send_result_t sent = send_to_agent(std::string(4080, 'x'), "", nullptr, 0xC101);
  EXPECT_FALSE(sent.attempted);
  EXPECT_EQ(sent.result, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(notices(),
            (std::vector<std::string>{
                "U SendToAgent invalid data to send",
                "U SendToAgent request text of 4080 bytes refused: at most 4079 bytes fit",
            }));
}

// Half an agent: its buffer without the events, then one event of two; each
// missing piece is traced and the call fails with it.
TEST(AgentAbsent, MissingChannelEventsAreTraced) {
  testsupport::new_trace_lines();
  const HANDLE buffer = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             kChannelBufferSize, kNipcChannel.buffer);
  const call_block_t block{::GetCurrentProcessId(), 0, 0x1234, 0xC100};
  const HRESULT not_found = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(call_agent(kNipcChannel, block), not_found);
  const HANDLE ack = ::CreateEventW(nullptr, FALSE, FALSE, kNipcChannel.ack_event);
  EXPECT_EQ(call_agent(kNipcChannel, block), not_found);
  EXPECT_EQ(notices(), (std::vector<std::string>{
                           "E channel_session_t::open -2147024894 no AckEvent",
                           "E channel_session_t::open -2147024894 no ReadyEvent",
                       }));
  ::CloseHandle(ack);
  ::CloseHandle(buffer);
}

}  // namespace
}  // namespace agent
