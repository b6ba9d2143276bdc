#include "suite/agent/agent_cache.h"

#include <algorithm>
#include <cstring>

#include "suite/agent/agent_log.h"
#include "suite/agent/lookup_cache_builder.h"

namespace cvagent {
namespace {

constexpr std::size_t kTablesBegin = 0x28;
constexpr std::size_t kTablesEnd = 0x428;
constexpr std::size_t kMinimumCapacity = 1 << 20;

std::string template_key(const std::wstring& file_name) {
  std::wstring stem = file_name.substr(0, file_name.size() - 4);  // without ".cvm"
  if (!stem.empty())
    ::CharLowerBuffW(stem.data(), static_cast<DWORD>(stem.size()));
  return utf8(stem);
}

}  // namespace

cache_stats_t agent_cache_t::rebuild(const std::vector<agent_folder_t>& folders) {
  cache_stats_t stats;
  stats.generation = ++m_generation;
  stats.folders = folders.size();
  standin::lookup_cache_builder_t builder;
  std::vector<std::uint32_t> indexes;
  for (const auto& folder : folders)
    indexes.push_back(builder.add_folder(utf8(folder.path)));

  std::set<template_key_t> live;
  for (const auto& file : template_files(folders)) {
    const auto& folder = folders[file.folder];
    const std::string name = utf8(file.name);
    const std::string key = template_key(file.name);
    builder.add_entry(0, key, indexes[file.folder], name);
    if (folder.own) {
      builder.add_entry(1, key, indexes[file.folder], name);
      ++stats.own;
    }
    live.emplace(utf8(folder.path), name);
    m_listed.emplace(utf8(folder.path), name);
  }
  stats.live = live.size();
  for (const auto& [folder, file] : m_listed) {
    if (live.count({folder, file}))
      continue;
    builder.add_entry(0, template_key(wide(file)), builder.add_folder(folder), file, 1);
    ++stats.removed;
  }
  const auto image = builder.build(stats.generation);
  stats.bytes = image.size();
  stats.published = publish(image);
  return stats;
}

bool agent_cache_t::publish(const std::vector<std::uint8_t>& image) {
  if (image.size() > m_capacity) {
    if (m_view)
      ::UnmapViewOfFile(m_view);
    m_view = nullptr;
    m_section.reset();
    m_written = 0;
    const std::size_t capacity = std::max(kMinimumCapacity, 2 * image.size());
    m_section.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         static_cast<DWORD>(capacity), kLookupCacheSection));
    if (!m_section)
      return false;
    // A reader that still holds the old, smaller section keeps it alive
    // under the name; then this image can't be published yet.
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    m_view = ::MapViewOfFile(m_section.get(), FILE_MAP_WRITE, 0, 0, 0);
    if (!m_view)
      return false;
    MEMORY_BASIC_INFORMATION region{};
    ::VirtualQuery(m_view, &region, sizeof region);
    m_capacity = region.RegionSize;
    if (existed && image.size() > m_capacity)
      return false;
  }
  // Readers take the section without a lock: the bucket tables are emptied
  // first and written last, so a reader in between sees an empty cache or
  // chains whose entries are already in place.
  auto* bytes = static_cast<std::uint8_t*>(m_view);
  std::memset(bytes + kTablesBegin, 0, kTablesEnd - kTablesBegin);
  std::memcpy(bytes + kTablesEnd, image.data() + kTablesEnd, image.size() - kTablesEnd);
  if (m_written > image.size())
    std::memset(bytes + image.size(), 0, m_written - image.size());
  std::memcpy(bytes, image.data(), kTablesBegin);
  std::memcpy(bytes + kTablesBegin, image.data() + kTablesBegin, kTablesEnd - kTablesBegin);
  m_written = image.size();
  return true;
}

}  // namespace cvagent
