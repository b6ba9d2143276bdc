#include "store/portable/profile_records.h"

namespace serialization {

namespace {

using named::CInMemStorage;
using named::CSSection;
namespace names = profile_names;

bool store_item(const cvprofileitem_t& item, CInMemStorage& storage, CSSection* section) {
  bool stored = false;
  stored |= named::SetValue(storage, section, names::kValueOp, item.value_op);
  stored |= named::SetValue(storage, section, names::kDisplayNameOp, item.displayname_op);
  stored |=
      named::SetValue(storage, section, names::kDisplayName, std::wstring_view(item.displayname));
  stored |= named::SetValue(storage, section, names::kValue, item.value.view());
  stored |= named::SetValue(storage, section, names::kDatabaseName, std::string_view(item.dbname));
  stored |= named::SetValue(storage, section, names::kMemoryId, item.memid);
  return stored;
}

bool load_item(const CInMemStorage& storage, const CSSection* section, cvprofileitem_t& item) {
  bool loaded = false;
  loaded |= named::GetValue(storage, section, names::kValueOp, item.value_op);
  loaded |= named::GetValue(storage, section, names::kDisplayNameOp, item.displayname_op);
  loaded |= named::GetValue(storage, section, names::kDisplayName, item.displayname);
  loaded |= named::GetValue(storage, section, names::kValue, item.value);
  loaded |= named::GetValue(storage, section, names::kDatabaseName, item.dbname);
  loaded |= named::GetValue(storage, section, names::kMemoryId, item.memid);
  return loaded;
}

}  // namespace

bool StoreProfile(const cvprofile_t& record, CInMemStorage& storage, CSSection* section) {
  bool stored = false;
  stored |= named::SetValue(storage, section, names::kOperation, record.operation);
  stored |= named::SetValue(storage, section, names::kProfileIndex, record.profileindex);
  stored |=
      named::SetValue(storage, section, names::kProfileName, std::wstring_view(record.profilename));
  stored |=
      named::SetValue(storage, section, names::kQuickLinkName, std::wstring_view(record.qlinkname));
  stored |= named::SetValue(storage, section, names::kSubmitProfile, record.submitprofile);
  stored |=
      named::SetValue(storage, section, names::kUpdateDate, std::string_view(record.updatedate));
  stored |= named::SetValue(storage, section, names::kFormIndex, record.formindex);

  if (record.items.empty()) {
    named::Remove(storage, names::kItems, section);
    return true;  // nothing to write for the items counts as success
  }
  named::sections_array_ptr array;
  named::section_ptr item_section =
      named::CreateSectionsArray(storage, section, names::kItems, &array);
  if (!item_section)
    return stored;
  for (std::size_t i = 0; i < record.items.size(); ++i) {
    if (i != 0)
      item_section = named::AppendSection(*array);
    stored |= store_item(record.items[i], storage, item_section.get());
  }
  return stored;
}

bool LoadProfile(const CInMemStorage& storage, const CSSection* section, cvprofile_t& record) {
  bool loaded = false;
  loaded |= named::GetValue(storage, section, names::kOperation, record.operation);
  loaded |= named::GetValue(storage, section, names::kProfileIndex, record.profileindex);
  loaded |= named::GetValue(storage, section, names::kProfileName, record.profilename);
  loaded |= named::GetValue(storage, section, names::kQuickLinkName, record.qlinkname);
  loaded |= named::GetValue(storage, section, names::kSubmitProfile, record.submitprofile);
  loaded |= named::GetValue(storage, section, names::kUpdateDate, record.updatedate);
  loaded |= named::GetValue(storage, section, names::kFormIndex, record.formindex);

  named::sections_iterator it;
  named::section_ptr item_section = named::OpenSectionsArray(storage, section, names::kItems, it);
  if (!item_section)
    return loaded;
  std::vector<cvprofileitem_t> items;
  items.reserve(it.array->count());
  for (; item_section; item_section = named::NextSection(it)) {
    items.emplace_back();
    load_item(storage, item_section.get(), items.back());
  }
  record.items = std::move(items);
  return true;
}

bool StoreProfiles(const cvprofiles_t& list, CInMemStorage& storage, CSSection* section) {
  named::sections_array_ptr array;
  named::section_ptr record_section =
      named::CreateSectionsArray(storage, section, names::kProfileList, &array);
  if (!record_section)
    return false;
  if (list.empty()) {
    // The array is always there; an empty list leaves it without sections, so
    // that loading gives no record back (its first section would read as one).
    array->clear();
    return true;
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0)
      record_section = named::AppendSection(*array);
    StoreProfile(list[i], storage, record_section.get());
  }
  return true;
}

bool LoadProfiles(const CInMemStorage& storage, const CSSection* section, cvprofiles_t& list) {
  named::sections_iterator it;
  named::section_ptr record_section =
      named::OpenSectionsArray(storage, section, names::kProfileList, it);
  if (!record_section)
    return false;
  list.reserve(list.size() + it.array->count());
  for (; record_section; record_section = named::NextSection(it)) {
    list.emplace_back();
    LoadProfile(storage, record_section.get(), list.back());
  }
  return true;
}

bool LoadProfileImage(const std::uint8_t* bytes, std::size_t size, cvprofile_t& record) {
  CInMemStorage storage;
  return named::Load(bytes, size, storage) != 0 && LoadProfile(storage, nullptr, record);
}

bool LoadProfilesImage(const std::uint8_t* bytes, std::size_t size, cvprofiles_t& list) {
  CInMemStorage storage;
  return named::Load(bytes, size, storage) != 0 && LoadProfiles(storage, nullptr, list);
}

secure_wstring ResolveValue(std::wstring_view value, reference_resolver& resolver) {
  if (IsReference(value))
    return resolver.Resolve(ReferenceName(value));
  return secure_wstring(value);
}

}  // namespace serialization
