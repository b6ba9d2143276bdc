// The agent's template lookup cache, published in the named section
// "CV_KVX_LOOKUP_CACHE".
//
// What this agent puts in it:
// - key of a template: its file name without ".cvm", lower case (UTF-8);
// - first bucket table: every template of every folder, and a "removed"
//   entry (flag 1) for each template that an earlier build listed and that is
//   gone now; a template that comes back is live again;
// - second bucket table: the templates of the user's own storage folder
//   again (so those appear in both tables).
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "suite/agent/agent_folders.h"
#include "support/unique_any.h"

namespace cvagent {

struct cache_stats_t {
  std::uint32_t generation = 0;
  std::size_t folders = 0;
  std::size_t live = 0;
  std::size_t removed = 0;
  std::size_t own = 0;
  std::size_t bytes = 0;
  bool published = false;
};

class agent_cache_t {
 public:
  agent_cache_t() = default;
  ~agent_cache_t() {
    if (m_view)
      ::UnmapViewOfFile(m_view);
  }
  agent_cache_t(const agent_cache_t&) = delete;
  agent_cache_t& operator=(const agent_cache_t&) = delete;

  // Builds the image from the folders and writes it into the section (created
  // on first use, or again when the image outgrows it).
  cache_stats_t rebuild(const std::vector<agent_folder_t>& folders);

 private:
  using template_key_t = std::tuple<std::string, std::string>;  // folder, file (UTF-8)
  bool publish(const std::vector<std::uint8_t>& image);

  std::set<template_key_t> m_listed;  // every template ever listed, live or removed
  std::uint32_t m_generation = 0;
  support::unique_handle m_section;
  void* m_view = nullptr;
  std::size_t m_capacity = 0;
  std::size_t m_written = 0;
};

inline constexpr wchar_t kLookupCacheSection[] = L"CV_KVX_LOOKUP_CACHE";

}  // namespace cvagent
