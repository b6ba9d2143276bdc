// Profile records: one saved logon as it passes between the dashboard, the
// resident agent and the fill-in component, mapped onto the named storage.
//
// A record's fields are stored as values of one section, its items as the
// sections of the sections array "profileitems"; a list of records is the
// sections array "cvprofiles_t", one section per record in list order.
//
//   record field    stored under     kind     item field      stored under     kind
//   operation       "operation"      1        value_op        "value_op"       1
//   profileindex    "profileindex"   1        displayname_op  "displayname_op" 1
//   profilename     "profilename"    3        displayname     "displayname"    3
//   qlinkname       "qlinkname"      3        value           "value"          3
//   submitprofile   "submitprofile"  1        dbname          "dbname"         2
//   updatedate      "updatedate"     2        memid           "memid"          1
//   formindex       "formindex"      1
//   items           "profileitems"   sections array
//
// Kinds: 1 integer (4 bytes little-endian), 2 8-bit string, 3 UTF-16LE string,
// strings with their terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/portable/secure_memory.h"
#include "store/portable/storage_named.h"

namespace serialization {

namespace profile_names {
inline constexpr std::string_view kOperation = "operation";
inline constexpr std::string_view kProfileIndex = "profileindex";
inline constexpr std::string_view kProfileName = "profilename";
inline constexpr std::string_view kQuickLinkName = "qlinkname";
inline constexpr std::string_view kSubmitProfile = "submitprofile";
inline constexpr std::string_view kUpdateDate = "updatedate";
inline constexpr std::string_view kFormIndex = "formindex";
inline constexpr std::string_view kItems = "profileitems";

inline constexpr std::string_view kValueOp = "value_op";
inline constexpr std::string_view kDisplayNameOp = "displayname_op";
inline constexpr std::string_view kDisplayName = "displayname";
inline constexpr std::string_view kValue = "value";
inline constexpr std::string_view kDatabaseName = "dbname";
inline constexpr std::string_view kMemoryId = "memid";

inline constexpr std::string_view kProfileList = "cvprofiles_t";
}  // namespace profile_names

// The operation the dashboard sets on a record it takes over from the agent.
inline constexpr std::int32_t kOperationFromAgent = 3;

struct cvprofileitem_t {
  std::int32_t value_op = 0;
  std::int32_t displayname_op = 0;
  std::wstring displayname;
  secure_wstring value;  // may be a secret, or a reference to one
  std::string dbname;
  std::int32_t memid = -1;

  friend bool operator==(const cvprofileitem_t&, const cvprofileitem_t&) = default;
};

struct cvprofile_t {
  std::int32_t operation = 0;
  std::int32_t profileindex = 0;
  std::wstring profilename;
  std::wstring qlinkname;
  std::int32_t submitprofile = 0;
  std::string updatedate;
  std::int32_t formindex = 0;
  std::vector<cvprofileitem_t> items;

  friend bool operator==(const cvprofile_t&, const cvprofile_t&) = default;
};

using cvprofiles_t = std::vector<cvprofile_t>;

namespace named = StorageNamed::InMemStorageSpace;

// Writes every field into the section (the root when none); true when any write
// succeeded. A record without items writes no "profileitems" (and removes one
// left in the section). Throws std::bad_alloc.
bool StoreProfile(const cvprofile_t& record,
                  named::CInMemStorage& storage,
                  named::CSSection* section = nullptr);

// Reads every field from the section; a missing field (or one stored as another
// kind of entry) leaves the record's field as it was. Items, when present,
// replace the record's items, each item starting from the defaults. True when
// any field was read. Throws std::bad_alloc.
bool LoadProfile(const named::CInMemStorage& storage,
                 const named::CSSection* section,
                 cvprofile_t& record);

// Writes the list as "cvprofiles_t", one section per record in list order. The
// array is always written; for an empty list it holds no section.
bool StoreProfiles(const cvprofiles_t& list,
                   named::CInMemStorage& storage,
                   named::CSSection* section = nullptr);

// Appends one record per section of "cvprofiles_t", each starting from the
// defaults; false when there is no such list.
bool LoadProfiles(const named::CInMemStorage& storage,
                  const named::CSSection* section,
                  cvprofiles_t& list);

// Images of one record or of a list, stored at the root.
template <typename Allocator>
std::uint32_t SaveProfileImage(const cvprofile_t& record, memoryblock_T<Allocator>& block) {
  named::CInMemStorage storage;
  StoreProfile(record, storage);
  return named::Save(storage, block);
}
template <typename Allocator>
std::uint32_t SaveProfilesImage(const cvprofiles_t& list, memoryblock_T<Allocator>& block) {
  named::CInMemStorage storage;
  StoreProfiles(list, storage);
  return named::Save(storage, block);
}
// False when the bytes are not an image or hold no field of a record (list).
bool LoadProfileImage(const std::uint8_t* bytes, std::size_t size, cvprofile_t& record);
bool LoadProfilesImage(const std::uint8_t* bytes, std::size_t size, cvprofiles_t& list);

// Reference values. An item value longer than the marker that begins with it
// names an entry of the protected storage; the real value is fetched from there
// when it is needed.
inline constexpr std::wstring_view kReferenceMarker = L"550-08-60 ";

inline bool IsReference(std::wstring_view value) noexcept {
  return value.size() > kReferenceMarker.size() &&
         value.substr(0, kReferenceMarker.size()) == kReferenceMarker;
}

// The name of the referenced entry; empty when the value is no reference.
inline std::wstring_view ReferenceName(std::wstring_view value) noexcept {
  return IsReference(value) ? value.substr(kReferenceMarker.size()) : std::wstring_view();
}

// Fetches referenced values; the protected-storage glue implements it. Failures
// are the implementation's own exceptions and pass through unchanged.
class reference_resolver {
 public:
  virtual ~reference_resolver() = default;
  virtual secure_wstring Resolve(std::wstring_view reference_name) = 0;
};

// The real value: the referenced entry's value for a reference, else the value.
secure_wstring ResolveValue(std::wstring_view value, reference_resolver& resolver);
inline secure_wstring ResolveValue(const cvprofileitem_t& item, reference_resolver& resolver) {
  return ResolveValue(item.value.view(), resolver);
}

}  // namespace serialization
