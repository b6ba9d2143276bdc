// The user's logon categories as the manage tab holds them: names and member
// lists in two parallel arrays, in the order read or added, and the category
// last worked with. A member list is the logons' keys joined with semicolons.
// Platform-free.
//
//   categories::category_list_t list;
//   list.add(L"Work");
//   list.put(0, categories::logon_key(L"C:\\T\\mail.cvm"));   // members L"mail"
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace categories {

// The key a logon is listed by: its template's file name without extension.
std::wstring logon_key(std::wstring_view template_path);

// A member list split at its semicolons (an empty list has no members).
std::vector<std::wstring> split_members(std::wstring_view members);
// The list with `key` appended unless a member equals it exactly.
std::wstring with_member(std::wstring_view members, std::wstring_view key);

struct category_list_t {
  std::vector<std::wstring> names;
  std::vector<std::wstring> members;
  std::wstring last;

  std::size_t size() const noexcept { return names.size(); }
  void clear();
  // The index of a name, compared without regard to case as registry value
  // names are.
  std::optional<std::size_t> find(std::wstring_view name) const;
  // Appends a category with no members unless the name is already there; true
  // when it was appended.
  bool add(std::wstring_view name, std::wstring_view member_list = {});
  // Puts a logon key into the category at `index`; an index outside the list
  // raises std::out_of_range. False (nothing changed) for an empty key or one
  // holding a semicolon.
  bool put(std::size_t index, std::wstring_view key);
};

}  // namespace categories
