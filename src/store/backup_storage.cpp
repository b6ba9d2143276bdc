#include "store/backup_storage.h"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "agent/portable/channel_layout.h"
#include "plugin/settings.h"
#include "quicklinks/categories.h"
#include "quicklinks/quicklink_store.h"
#include "suite/include/suite_api.h"
#include "support/com.h"
#include "support/hresult.h"
#include "support/registry.h"
#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_folders.h"
#include "tracing/trace.h"

namespace backup {
namespace {

using templates::utf8_to_wide;
using templates::wide_to_utf8;

// Windows' wide characters are UTF-16 code units.
std::u16string to_u16(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}
std::wstring to_wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

bool read_file(const std::wstring& path, std::string& bytes) {
  support::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF)
    return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  return bytes.empty() ||
         (::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
          got == bytes.size());
}

bool write_new_file(const std::wstring& path, const std::string& bytes) {
  support::unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return false;
  DWORD written = 0;
  return bytes.empty() || (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                       &written, nullptr) &&
                           written == bytes.size());
}

std::wstring local_storage_folder() {
  std::wstring folder;
  if (FAILED(plugin::read_setting_string(L"localstorage_dir", folder)))
    folder.clear();
  return folder.empty() ? folder : templates::with_trailing_separator(folder);
}

// DOMAIN\user of the thread's token when it impersonates, else the process's.
std::wstring account_name() {
  HANDLE raw = nullptr;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &raw))
    THROW_LAST_ERROR_IF(!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
  const support::unique_handle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  THROW_LAST_ERROR_IF(size == 0 ||
                      !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size));
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use{};
  THROW_LAST_ERROR_IF(
      !::LookupAccountSidW(nullptr, user->User.Sid, name, &name_size, domain, &domain_size, &use));
  return std::wstring(domain) + L"\\" + name;
}

void collect_templates(image_t& image) {
  for (const templates::manifest_t& manifest : templates::collect_all_templates()) {
    const std::wstring path = utf8_to_wide(manifest.path);
    template_file_t file;
    if (!read_file(path, file.bytes))
      continue;
    file.name = to_u16(path.substr(path.find_last_of(L"\\/:") + 1));
    image.templates.push_back(std::move(file));
  }
}

void collect_links(image_t& image) {
  QL::set_t set;
  QL::load(set);
  for (const QL::record_t& r : set.records) {
    image.links.push_back({to_u16(utf8_to_wide(r.name)),
                           to_u16(utf8_to_wide(r.type == QL::type_url ? r.url : r.dlgpath)),
                           to_u16(utf8_to_wide(std::string(QL::file_name_of(r.manifest)))),
                           r.profile, to_u16(utf8_to_wide(r.manifestid))});
  }
}

void collect_categories(image_t& image) {
  const auto key = support::try_open_key(HKEY_CURRENT_USER, quicklinks::kCategoriesKey, KEY_READ);
  if (!key)
    return;
  for (DWORD index = 0;; ++index) {
    wchar_t name[261];
    DWORD name_length = 261;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegEnumValueW(key->get(), index, name, &name_length, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0 || (type != REG_SZ && type != REG_EXPAND_SZ))
      break;
    const auto text = support::try_get_string(key->get(), name);
    if (!text)
      break;
    image.categories.push_back({to_u16(std::wstring(name, name_length)), to_u16(*text)});
  }
}

// Writes every template under a name of its own first; only when all are
// written are the old templates deleted and the new ones moved into place.
void restore_templates(const std::vector<template_file_t>& files) {
  tracecore::trace_scope scope("CStorageData::RestoreTemplates");
  const std::wstring folder = local_storage_folder();
  if (folder.empty() || !templates::create_folder(folder)) {
    tracecore::trace_text("no local storage folder");
    return;
  }
  const std::wstring stage_prefix =
      folder + L"~cvrestore" + std::to_wstring(::GetCurrentProcessId()) + L"_";
  std::vector<std::pair<std::wstring, std::wstring>> staged;  // staged file, final name
  bool written = true;
  for (const template_file_t& file : files) {
    if (!is_template_file_name(file.name)) {
      tracecore::trace_format("bad template name '%ls'", to_wide(file.name).c_str());
      continue;
    }
    const std::wstring stage = stage_prefix + std::to_wstring(staged.size()) + L".tmp";
    staged.emplace_back(stage, folder + to_wide(file.name));
    if (!write_new_file(stage, file.bytes)) {
      tracecore::trace_lasterror("Error writing File");
      written = false;
      break;
    }
  }
  if (!written) {
    for (const auto& [stage, target] : staged)
      ::DeleteFileW(stage.c_str());
    return;
  }
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((folder + L"*.cvm").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
          !::DeleteFileW((folder + found.cFileName).c_str()))
        tracecore::trace_lasterror(L"cannot delete old template");
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  for (const auto& [stage, target] : staged) {
    if (!::MoveFileExW(stage.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      tracecore::trace_lasterror("Error writing File");
      ::DeleteFileW(stage.c_str());
    }
  }
}

void restore_links(const std::vector<link_t>& links) {
  tracecore::trace_scope scope("RestoreQuickLinks");
  tracecore::trace_format("SAQL OK, Num BLOBs=%d", static_cast<int>(links.size()));
  const std::wstring folder = local_storage_folder();
  if (folder.empty())
    return;
  const std::wstring portable_folder =
      templates::with_trailing_separator(templates::portable_path(folder));
  QL::set_t set;
  QL::load(set);
  for (const link_t& link : links) {
    const std::wstring path = portable_folder + to_wide(link.template_file);
    tracecore::trace_format("bs3: %s", wide_to_utf8(path).c_str());
    QL::add(set, to_wide(link.target), to_wide(link.name), link.profile, to_wide(link.template_id),
            path);
  }
  QL::save_if_modified(set);
}

LSTATUS set_string(HKEY key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void restore_categories(const std::vector<category_t>& list) {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, quicklinks::kCategoriesKey);
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, quicklinks::kDashBoardKey, 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &raw, nullptr) == ERROR_SUCCESS) {
    const support::unique_hkey dashboard(raw);
    set_string(dashboard.get(), quicklinks::kLastCategoryValue, L"");
  }
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, quicklinks::kCategoriesKey, 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &raw, nullptr) != ERROR_SUCCESS)
    return;
  const support::unique_hkey key(raw);
  for (const category_t& category : list)
    set_string(key.get(), to_wide(category.name).c_str(), to_wide(category.members));
}

void tell_agents() {
  const UINT refresh = ::RegisterWindowMessageW(agent::kMsgAgentRefreshCache);
  DWORD recipients = BSM_APPLICATIONS | BSM_ALLDESKTOPS;
  if (refresh == 0 ||
      ::BroadcastSystemMessageW(BSF_POSTMESSAGE | BSF_FORCEIFHUNG, &recipients, refresh, 0,
                                static_cast<LPARAM>(::GetCurrentProcessId())) < 0)
    tracecore::trace_lasterror("broadcast WM_CV_AGENT_REFRESHCACHE");
  if (HWND agent = ::FindWindowW(L"CV_LocalAgentDS", nullptr))
    ::PostMessageW(agent, kAgentDataChanged, 0, 0);
}

// A SAFEARRAY of one dimension; E_OUTOFMEMORY when it can't be made.
SAFEARRAY* new_array(VARTYPE type, ULONG count) {
  SAFEARRAY* array = ::SafeArrayCreateVector(type, 0, count);
  if (array == nullptr)
    THROW_HR(E_OUTOFMEMORY);
  return array;
}

struct array_guard_t {
  SAFEARRAY* array;
  ~array_guard_t() {
    if (array != nullptr)
      ::SafeArrayDestroy(array);
  }
};

}  // namespace

bool collect_image(image_t& image) {
  collect_templates(image);
  collect_links(image);
  collect_categories(image);
  return !image.templates.empty() || !image.links.empty() || !image.categories.empty();
}

HRESULT restore_image(const std::uint8_t* data, std::size_t size) noexcept {
  try {
    const auto parsed = parse(data, size);
    if (!parsed) {
      tracecore::trace_error("not a backup image of three parts", E_UNEXPECTED);
      return E_UNEXPECTED;
    }
    if (parsed->templates)
      restore_templates(*parsed->templates);
    else
      tracecore::trace_text("templates do not decode: skipped");
    if (parsed->links)
      restore_links(*parsed->links);
    else
      tracecore::trace_text("quick links do not decode: skipped");
    if (parsed->categories)
      restore_categories(*parsed->categories);
    else
      tracecore::trace_text("categories do not decode: skipped");
    tell_agents();
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT GetStorageData(VARIANT* names, VARIANT* data) noexcept {
  try {
    const std::wstring folder = plugin::suite_bin_dir();
    if (folder.empty())
      THROW_HR(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    const support::unique_hmodule library(::LoadLibraryW((folder + L"CVFPApi.dll").c_str()));
    THROW_LAST_ERROR_IF(!library);
    const auto secret_exists = reinterpret_cast<CVFPDoesSecretExist_fn>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "CVFPDoesSecretExist")));
    THROW_LAST_ERROR_IF(secret_exists == nullptr);
    const std::wstring account = account_name();
    if (!secret_exists(account.c_str(), 3, kProtectedStorageName)) {
      tracecore::trace_format("no protected storage for %ls", account.c_str());
      return S_OK;
    }
    if (names == nullptr || data == nullptr)
      THROW_HR(E_POINTER);
    image_t image;
    std::vector<std::uint8_t> bytes;
    if (collect_image(image))
      bytes = build(image);
    array_guard_t name_array{new_array(VT_BSTR, 1)};
    LONG index = 0;
    support::unique_bstr name = support::unique_bstr::from(kProtectedStorageName);
    THROW_IF_FAILED(::SafeArrayPutElement(name_array.array, &index, name.get()));
    array_guard_t byte_array{new_array(VT_UI1, static_cast<ULONG>(bytes.size()))};
    if (!bytes.empty()) {
      void* target = nullptr;
      THROW_IF_FAILED(::SafeArrayAccessData(byte_array.array, &target));
      std::memcpy(target, bytes.data(), bytes.size());
      ::SafeArrayUnaccessData(byte_array.array);
    }
    tracecore::trace_format(
        "templates %d, links %d, categories %d: %d bytes", static_cast<int>(image.templates.size()),
        static_cast<int>(image.links.size()), static_cast<int>(image.categories.size()),
        static_cast<int>(bytes.size()));
    ::VariantClear(names);
    names->vt = VT_ARRAY | VT_BSTR;
    names->parray = std::exchange(name_array.array, nullptr);
    ::VariantClear(data);
    data->vt = VT_ARRAY | VT_UI1;
    data->parray = std::exchange(byte_array.array, nullptr);
    return S_OK;
  } catch (...) {
    support::result_from_caught_exception();  // traced there
    return S_OK;
  }
}

HRESULT SetStorageData(const VARIANT* data) noexcept {
  if (data == nullptr || data->vt != (VT_ARRAY | VT_UI1)) {
    tracecore::trace_text("not a byte array: ignored");
    return S_OK;
  }
  try {
    SAFEARRAY* array = data->parray;
    if (array == nullptr || ::SafeArrayGetDim(array) != 1)
      THROW_HR(E_UNEXPECTED);
    LONG lower = 0;
    LONG upper = -1;
    THROW_IF_FAILED(::SafeArrayGetLBound(array, 1, &lower));
    THROW_IF_FAILED(::SafeArrayGetUBound(array, 1, &upper));
    const std::size_t count = upper >= lower ? static_cast<std::size_t>(upper - lower) + 1 : 0;
    std::vector<std::uint8_t> bytes(count);
    if (count != 0) {
      void* source = nullptr;
      THROW_IF_FAILED(::SafeArrayAccessData(array, &source));
      std::memcpy(bytes.data(), source, count);
      ::SafeArrayUnaccessData(array);
    }
    return restore_image(bytes.data(), bytes.size());
  }
  CATCH_RETURN();
}

}  // namespace backup
