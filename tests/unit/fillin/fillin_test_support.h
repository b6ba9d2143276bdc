// Helpers of the fill-in and training tests: profile records to store.
#pragma once

#include <windows.h>

#include <string>
#include <tuple>
#include <vector>

#include "store/portable/profile_records.h"
#include "suite/include/suite_api.h"
#include "tests/support/win_test_helpers.h"

namespace filltest {

// A record with items given as (display name, database name, value).
inline serialization::cvprofile_t record(
    int profile_index,
    const std::wstring& name,
    const std::vector<std::tuple<std::wstring, std::string, std::wstring>>& items) {
  serialization::cvprofile_t r;
  r.operation = 1;
  r.profileindex = profile_index;
  r.profilename = name;
  r.qlinkname = name;
  r.submitprofile = 1;
  r.updatedate = "2024-05-01 10:30:00";
  for (const auto& [display, db, value] : items) {
    serialization::cvprofileitem_t& item = r.items.emplace_back();
    item.displayname = display;
    item.dbname = db;
    item.value = value;
  }
  return r;
}

}  // namespace filltest
