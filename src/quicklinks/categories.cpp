#include "quicklinks/categories.h"

#include "plugin/branding.h"
#include "support/registry.h"
#include "support/unique_any.h"
#include "tracing/trace.h"

namespace quicklinks {
namespace {

LSTATUS set_string(HKEY key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::optional<support::unique_hkey> create_key(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return support::unique_hkey(key);
}

}  // namespace

void ReadCategories(categories::category_list_t& list, HKEY root) {
  list.clear();
  const auto key = support::try_open_key(root, kCategoriesKey, KEY_READ);
  if (key) {
    for (const std::wstring& name : support::enum_value_names(key->get()))
      list.add(name, support::try_get_string(key->get(), name.c_str()).value_or(L""));
  }
  if (const auto dashboard = support::try_open_key(root, kDashBoardKey, KEY_READ)) {
    list.last = support::try_get_string(dashboard->get(), kLastCategoryValue).value_or(L"");
  }
  if (!key) {
    for (UINT id : kDefaultCategoryIds) {
      const std::wstring name = plugin::CBranding::LoadBrandedString(id);
      if (!name.empty())
        list.add(name);
    }
  }
}

void SaveCategories(const categories::category_list_t& list, HKEY root) {
  tracecore::trace_scope scope("CTabManage::SaveCategories");
  ::RegDeleteTreeW(root, kCategoriesKey);
  const auto key = create_key(root, kCategoriesKey);
  if (!key)
    return;
  tracecore::trace_format("Categories = %d", static_cast<int>(list.size()));
  for (std::size_t i = 0; i < list.size(); ++i)
    set_string(key->get(), list.names[i].c_str(), list.members[i]);
  if (const auto dashboard = support::try_open_key(root, kDashBoardKey, KEY_READ | KEY_WRITE))
    set_string(dashboard->get(), kLastCategoryValue, list.last);
}

bool PutLogon(categories::category_list_t& list,
              std::size_t index,
              const std::wstring& template_path,
              HKEY root) {
  if (!list.put(index, categories::logon_key(template_path)))
    return false;
  if (const auto key = create_key(root, kCategoriesKey))
    set_string(key->get(), list.names[index].c_str(), list.members[index]);
  return true;
}

}  // namespace quicklinks
