// The template list read from the lookup cache, as the agent stand-in
// publishes it from real folders (the tables' layout is the walker tests'), and
// from sections a test lays out itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/agent_link.h"
#include "agent/portable/channel_layout.h"
#include "suite/agent/lookup_cache_builder.h"
#include "support/hresult.h"
#include "templates/lookup_cache.h"
#include "templates/portable/lookup_cache.h"
#include "tests/support/traced_test_main.h"
#include "tests/unit/agent/agent_test_support.h"

namespace templates {
namespace {

using agenttest::agent_process_t;
using agenttest::notices;

std::vector<std::wstring> listed() {
  std::vector<std::wstring> paths;
  get_manifest_fnames_all(paths);
  return paths;
}

std::vector<std::wstring> sorted(std::vector<std::wstring> paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The agent indexes two folders of the test's own: the user's and a foreign one.
class AgentCache : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::new_trace_lines(); }
  std::vector<std::wstring> agent_arguments() const {
    return {L"--local-folder", m_own, L"--folder", m_alien};
  }

  testsupport::scratch_folder_t m_own_folder, m_alien_folder;
  const std::wstring& m_own = m_own_folder.path();
  const std::wstring& m_alien = m_alien_folder.path();
};

TEST_F(AgentCache, WithoutTheAgentTheListCannotBeHad) {
  std::vector<std::wstring> paths = {L"left over"};
  try {
    get_manifest_fnames_all(paths);
    ADD_FAILURE() << "no error raised";
  } catch (const support::hresult_error& e) {
    EXPECT_EQ(e.code(), static_cast<HRESULT>(0x8007006E));
  }
  EXPECT_TRUE(paths.empty());
  const auto lines = notices();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" open_shared_section "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("MMF: CVAgent not running"), std::string::npos) << lines[0];
}

TEST_F(AgentCache, TemplatesOfAllFoldersEachListedOnce) {
  for (const auto& path : {m_own + L"a.cvm", m_own + L"b.cvm", m_alien + L"b.cvm",
                           m_alien + L"C.CVM", m_alien + L"notes.txt"})
    testsupport::write_file(path, "<manifest/>");
  agent_process_t agent(agent_arguments());
  ASSERT_TRUE(agent.ready());

  EXPECT_EQ(listed(),
            sorted({m_own + L"a.cvm", m_own + L"b.cvm", m_alien + L"b.cvm", m_alien + L"C.CVM"}));
  EXPECT_EQ(notices(), std::vector<std::string>{});
}

TEST_F(AgentCache, RemovedTemplatesStayAsSkippedEntries) {
  for (const auto& path : {m_own + L"a.cvm", m_own + L"b.cvm", m_alien + L"c.cvm"})
    testsupport::write_file(path, "<manifest/>");
  agent_process_t agent(agent_arguments());
  ASSERT_TRUE(agent.ready());
  ASSERT_EQ(listed().size(), 3u);

  ::DeleteFileW((m_own + L"b.cvm").c_str());
  testsupport::write_file(m_alien + L"d.cvm", "<manifest/>");
  // What the dashboard broadcasts after a restore; sent here, so the agent
  // has rebuilt its cache when the call returns.
  ::SendMessageW(agent.window(), ::RegisterWindowMessageW(agent::kMsgAgentRefreshCache), 0,
                 static_cast<LPARAM>(::GetCurrentProcessId()));
  // The removed one stays in the cache as a skipped entry.
  EXPECT_EQ(listed(), sorted({m_own + L"a.cvm", m_alien + L"c.cvm", m_alien + L"d.cvm"}));

  // A manifest request through the channel rebuilds it too.
  testsupport::write_file(m_own + L"b.cvm", "<manifest/>");
  EXPECT_TRUE(agent::SendToAgent("kvx::b.cvm", "", agent.window(),
                                 ::RegisterWindowMessageW(agent::kMsgAgentManifest)));
  ASSERT_TRUE(agent.sync());
  EXPECT_EQ(listed().size(), 4u);
  EXPECT_EQ(notices(), std::vector<std::string>{});
}

// A section laid out by the test itself (no agent runs under the lock).
class test_section_t {
 public:
  explicit test_section_t(const std::vector<std::uint8_t>& image) {
    m_mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     static_cast<DWORD>(image.size()), kLookupCacheName);
    void* view = ::MapViewOfFile(m_mapping, FILE_MAP_WRITE, 0, 0, 0);
    std::copy(image.begin(), image.end(), static_cast<std::uint8_t*>(view));
    ::UnmapViewOfFile(view);
  }
  ~test_section_t() { ::CloseHandle(m_mapping); }
  test_section_t(const test_section_t&) = delete;
  test_section_t& operator=(const test_section_t&) = delete;

 private:
  HANDLE m_mapping = nullptr;
};

TEST_F(AgentCache, DamagedSectionIsReadAsFarAsItIsSoundAndTraced) {
  standin::lookup_cache_builder_t builder;
  const auto folder = builder.add_folder("C:\\t\\");
  builder.add_entry(0, "k", folder, "one.cvm");
  builder.add_entry(0, "k", folder, "two.cvm");
  builder.add_entry(1, "k", folder, "one.cvm");
  std::vector<std::uint8_t> image = builder.build();
  // The second entry links back to the first: a loop.
  const std::size_t entries = image[24] | image[25] << 8;
  const std::size_t second = entries + kLookupEntrySize;
  for (int i = 0; i < 4; ++i)
    image[second + 13 + i] = static_cast<std::uint8_t>(entries >> (8 * i));
  {
    const test_section_t section(image);
    EXPECT_EQ(listed(), (std::vector<std::wstring>{L"C:\\t\\one.cvm", L"C:\\t\\two.cvm"}));
  }
  EXPECT_EQ(notices(), std::vector<std::string>{
                           "U get_manifest_fnames_all damaged cache: 0 entries skipped, 1 chains "
                           "cut, 0 paths too long"});
}

}  // namespace
}  // namespace templates
