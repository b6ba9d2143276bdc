// Taking a record the agent refreshed into the records stored for a template.
#pragma once

#include <string>

#include "store/portable/profile_records.h"

namespace serialization {

// The key a record is merged under: "<profileindex>.<formindex>" in decimal.
std::string profile_key(const cvprofile_t& record);

// The stored records and the refreshed one, one record per key (the refreshed
// record replaces a stored one with the same key; of two stored records with
// one key the later wins), in ascending byte order of the key text ("10.0"
// before "2.0"), records whose operation is 0 left out. Throws std::bad_alloc.
cvprofiles_t merge_refreshed_profile(const cvprofiles_t& stored, const cvprofile_t& refreshed);

}  // namespace serialization
