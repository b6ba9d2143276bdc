#include "templates/lookup_cache.h"

#include <vector>

#include "agent/shared_section.h"
#include "support/hresult.h"
#include "templates/portable/lookup_cache.h"
#include "tracing/trace.h"

namespace templates {

void get_manifest_fnames_all(std::vector<std::wstring>& paths) {
  tracecore::trace_scope scope("get_manifest_fnames_all");
  paths.clear();
  std::vector<std::uint8_t> snapshot;
  {
    // The reader only reads. The agent may rewrite the section at any time,
    // so it is copied once and the copy is walked: every value the walk
    // checks stays the value it then uses.
    const agent::shared_section_t section =
        agent::open_shared_section(kLookupCacheName, FILE_MAP_READ);
    if (!section)
      THROW_HR(kLookupCacheOpenFailed);
    snapshot.assign(section.data(), section.data() + section.size);
  }
  lookup_walk_stats_t stats;
  std::vector<std::wstring> found = lookup_cache_paths(snapshot, &stats);
  if (!stats.clean())
    tracecore::trace_format("damaged cache: %u entries skipped, %u chains cut, %u paths too long",
                            static_cast<unsigned>(stats.damaged_entries),
                            static_cast<unsigned>(stats.cut_chains),
                            static_cast<unsigned>(stats.long_paths));
  paths = std::move(found);
}

}  // namespace templates
