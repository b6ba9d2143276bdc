#include "store/portable/profile_merge.h"

#include <map>

namespace serialization {

std::string profile_key(const cvprofile_t& record) {
  return std::to_string(record.profileindex) + "." + std::to_string(record.formindex);
}

cvprofiles_t merge_refreshed_profile(const cvprofiles_t& stored, const cvprofile_t& refreshed) {
  std::map<std::string, const cvprofile_t*> by_key;
  for (const cvprofile_t& record : stored)
    by_key[profile_key(record)] = &record;
  by_key[profile_key(refreshed)] = &refreshed;

  cvprofiles_t merged;
  merged.reserve(by_key.size());
  for (const auto& [key, record] : by_key) {
    if (record->operation != 0)
      merged.push_back(*record);
  }
  return merged;
}

}  // namespace serialization
