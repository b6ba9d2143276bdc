// The user's logon categories in the registry (current user):
//   SOFTWARE\Corvantis\Applications\DashBoard\QLCategories  name -> member list (REG_SZ)
//   SOFTWARE\Corvantis\Applications\DashBoard "LastQLCategory"
// The manage tab owns the list in memory and saves it whole.
//
//   categories::category_list_t list;
//   quicklinks::ReadCategories(list);                   // defaults on a first start
//   quicklinks::PutLogon(list, 0, L"C:\\T\\mail.cvm");  // member "mail", stored at once
//   quicklinks::SaveCategories(list);
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "quicklinks/portable/category_list.h"

namespace quicklinks {

inline constexpr wchar_t kDashBoardKey[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard";
inline constexpr wchar_t kCategoriesKey[] =
    L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\QLCategories";
inline constexpr wchar_t kLastCategoryValue[] = L"LastQLCategory";
// Branded texts naming the categories a first start offers.
inline constexpr UINT kDefaultCategoryIds[] = {127, 128, 129};
// The longest category name ReadCategories reads back (its value-name buffer).
inline constexpr std::size_t kMaxCategoryName = 260;

// Fills the list from the registry under `root` (the current user's hive in the
// component). Without a categories key the list holds the three default
// categories with no members. Registry failures are silent.
void ReadCategories(categories::category_list_t& list, HKEY root = HKEY_CURRENT_USER);

// Rewrites the categories key from the list (values of older lists are gone)
// and sets "LastQLCategory" (trace scope "CTabManage::SaveCategories").
void SaveCategories(const categories::category_list_t& list, HKEY root = HKEY_CURRENT_USER);

// Puts the logon of `template_path` into the category at `index` (raises
// std::out_of_range outside the list) and stores that category's member list.
// False when the logon's key can't be a member (empty or holding ";").
bool PutLogon(categories::category_list_t& list,
              std::size_t index,
              const std::wstring& template_path,
              HKEY root = HKEY_CURRENT_USER);

}  // namespace quicklinks
