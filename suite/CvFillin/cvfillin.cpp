// The suite's fill-in component, "CvFillin.dll": the user's profiles per
// template, kept in the protected storage's profile text (profile_text.h).
// The caller passes the text in and saves the text a change returns; the
// component keeps nothing of its own but the last text it read, indexed, so
// that asking for the profiles of every template reads that text once.
// Behaviour: docs/fillin-training.md.
#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/cotaskmem_block.h"
#include "store/portable/profile_records.h"
#include "suite/CvFillin/profile_text.h"
#include "suite/common/standin_faults.h"
#include "suite/common/standin_time.h"
#include "suite/include/fillin_api.h"
#include "suite/include/pstore_api.h"
#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"

namespace {

using cvfillin::profile_data_t;
using cvfillin::secret_text;
using serialization::cvprofile_t;
using serialization::cvprofiles_t;

constexpr wchar_t kLibrary[] = L"CvFillin";
constexpr std::int32_t kOperationDeleted = 2;
constexpr std::int32_t kOperationNew = 1;
const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
const HRESULT kNotProfileData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// The last profile text read, indexed. Guarded by g_lock: the dashboard asks
// from its user-interface thread and from its rating worker.
support::critical_section g_lock;
std::unique_ptr<profile_data_t> g_last;

template <typename Body>
HRESULT entry_point(const wchar_t* name, Body&& body) noexcept {
  return standin::guarded_call([&]() -> HRESULT {
    if (const HRESULT fault = standin::injected_fault(kLibrary, name))
      return fault;
    return body();
  });
}

// The indexed form of a text; the one read last is reused when the same text
// comes again. Call with g_lock held.
profile_data_t& profile_data(LPCWSTR text) {
  if (!g_last || !g_last->holds_string(text))
    g_last = std::make_unique<profile_data_t>(text ? std::wstring_view(text) : std::wstring_view());
  return *g_last;
}

bool valid_id(LPCWSTR template_id) {
  return template_id != nullptr && template_id[0] != L'\0';
}

HRESULT decode_list(const BYTE* bytes, DWORD size, cvprofiles_t& list) {
  if (size == 0)
    return S_OK;
  if (bytes == nullptr)
    return E_POINTER;
  serialization::named::CInMemStorage storage;
  if (serialization::named::Load(bytes, size, storage) == 0)
    return kNotProfileData;
  serialization::LoadProfiles(storage, nullptr, list);
  return S_OK;
}

wchar_t* task_text(const secret_text& text) {
  auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (copy == nullptr)
    throw std::bad_alloc();
  std::copy(text.begin(), text.end(), copy);
  copy[text.size()] = L'\0';
  return copy;
}

// Changes the template's profiles in the text and hands out the new text. The
// change sees a copy of the stored list; deleted records are left out of the
// result.
template <typename Change>
HRESULT rewrite(LPCWSTR template_id, LPCWSTR text, LPWSTR* new_text, Change&& change) {
  if (new_text == nullptr)
    return E_POINTER;
  *new_text = nullptr;
  if (!valid_id(template_id))
    return E_INVALIDARG;
  support::scoped_lock<support::critical_section> guard(g_lock);
  profile_data_t& data = profile_data(text);
  if (!data.is_profile_data())
    return kNotProfileData;
  cvprofiles_t list = data.profiles(template_id);
  if (const HRESULT hr = change(list); FAILED(hr))
    return hr;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [](const cvprofile_t& r) { return r.operation == kOperationDeleted; }),
             list.end());
  const secret_text changed = data.with_profiles(template_id, list);
  wchar_t* result = task_text(changed);
  // The caller saves this text and passes it in next: keep it indexed.
  try {
    g_last = std::make_unique<profile_data_t>(std::wstring_view(changed.data(), changed.size()));
  } catch (...) {
    g_last.reset();
  }
  *new_text = result;
  return S_OK;
}

HMODULE this_module() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

// The protected storage of the process, else the one beside this library. It
// stays loaded.
HMODULE protected_storage_module() {
  if (HMODULE loaded = ::GetModuleHandleW(L"CvoPS.dll"))
    return loaded;
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(this_module(), path, MAX_PATH);
  std::wstring file(path, length);
  file = file.substr(0, file.find_last_of(L'\\') + 1) + L"CvoPS.dll";
  return ::LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

BOOL CALLBACK collect_edit(HWND child, LPARAM context) {
  wchar_t name[16] = {};
  ::GetClassNameW(child, name, 16);
  if (::lstrcmpiW(name, L"Edit") == 0)
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(child);
  return TRUE;
}

}  // namespace

extern "C" HRESULT WINAPI dll_function_get_profiles(LPCWSTR template_id,
                                                    LPCWSTR profile_data_text,
                                                    BYTE** profiles,
                                                    DWORD* size) {
  return entry_point(L"dll_function_get_profiles", [&]() -> HRESULT {
    if (profiles == nullptr || size == nullptr)
      return E_POINTER;
    *profiles = nullptr;
    *size = 0;
    if (!valid_id(template_id))
      return E_INVALIDARG;
    serialization::cotaskmem_block_t image;
    {
      support::scoped_lock<support::critical_section> guard(g_lock);
      profile_data_t& data = profile_data(profile_data_text);
      if (serialization::SaveProfilesImage(data.profiles(template_id), image) == 0)
        return E_OUTOFMEMORY;
    }
    *size = image.size();
    *profiles = image.detach();
    return S_OK;
  });
}

extern "C" HRESULT WINAPI dll_function_update_profiles(LPCWSTR template_id,
                                                       LPCWSTR profile_data_text,
                                                       const BYTE* profiles,
                                                       DWORD size,
                                                       LPWSTR* new_profile_data) {
  return entry_point(L"dll_function_update_profiles", [&]() -> HRESULT {
    cvprofiles_t given;
    if (const HRESULT hr = decode_list(profiles, size, given); FAILED(hr)) {
      if (new_profile_data)
        *new_profile_data = nullptr;
      return hr;
    }
    return rewrite(template_id, profile_data_text, new_profile_data, [&](cvprofiles_t& list) {
      list = std::move(given);
      return S_OK;
    });
  });
}

extern "C" HRESULT WINAPI dll_function_brrrfromps(HWND owner) {
  return entry_point(L"dll_function_brrrfromps", [&]() -> HRESULT {
    // The protected storage decides whether its secrets may be shown.
    const HMODULE storage = protected_storage_module();
    if (storage == nullptr)
      return HRESULT_FROM_WIN32(::GetLastError());
    const auto ask = reinterpret_cast<dll_function_brrfromps_fn>(
        reinterpret_cast<void*>(::GetProcAddress(storage, "dll_function_brrfromps")));
    if (ask == nullptr)
      return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    const HRESULT answer = ask(owner);
    return FAILED(answer) ? answer : (answer == S_OK ? S_OK : S_FALSE);
  });
}

extern "C" HRESULT WINAPI dll_function_fillinwindow(HWND window,
                                                    LPCWSTR template_id,
                                                    LPCWSTR profile_data_text,
                                                    LONG profile_index) {
  return entry_point(L"dll_function_fillinwindow", [&]() -> HRESULT {
    if (!::IsWindow(window))
      return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    if (!valid_id(template_id))
      return E_INVALIDARG;
    cvprofile_t record;
    {
      support::scoped_lock<support::critical_section> guard(g_lock);
      const cvprofiles_t& list = profile_data(profile_data_text).profiles(template_id);
      const auto found = std::find_if(list.begin(), list.end(), [&](const cvprofile_t& r) {
        return r.profileindex == profile_index && r.operation != kOperationDeleted;
      });
      if (found == list.end())
        return kNotFound;
      record = *found;
    }
    // The window's edit controls in their order get the item values in theirs.
    std::vector<HWND> edits;
    ::EnumChildWindows(window, collect_edit, reinterpret_cast<LPARAM>(&edits));
    std::size_t next = 0;
    for (const auto& item : record.items) {
      if (next == edits.size())
        break;
      if (item.value_op == kOperationDeleted)
        continue;
      HWND edit = edits[next++];
      if (!serialization::IsReference(item.value.view()))
        ::SetWindowTextW(edit, item.value.c_str());
    }
    return S_OK;
  });
}

extern "C" HRESULT WINAPI dll_function_createprofile(LPCWSTR template_id,
                                                     LPCWSTR profile_data_text,
                                                     LPCWSTR profile_name,
                                                     LPWSTR* new_profile_data) {
  return entry_point(L"dll_function_createprofile", [&]() -> HRESULT {
    return rewrite(template_id, profile_data_text, new_profile_data, [&](cvprofiles_t& list) {
      cvprofile_t record;
      record.operation = kOperationNew;
      for (const cvprofile_t& r : list)
        record.profileindex = std::max(record.profileindex, r.profileindex + 1);
      record.profilename = profile_name ? profile_name : L"";
      record.updatedate = standin::update_date_text();
      list.push_back(std::move(record));
      return S_OK;
    });
  });
}

extern "C" HRESULT WINAPI dll_function_modifyprofile(LPCWSTR template_id,
                                                     LPCWSTR profile_data_text,
                                                     const BYTE* profile,
                                                     DWORD size,
                                                     LPWSTR* new_profile_data) {
  return entry_point(L"dll_function_modifyprofile", [&]() -> HRESULT {
    cvprofile_t record;
    if (profile == nullptr || size == 0 ||
        !serialization::LoadProfileImage(profile, size, record)) {
      if (new_profile_data)
        *new_profile_data = nullptr;
      return E_INVALIDARG;
    }
    return rewrite(template_id, profile_data_text, new_profile_data, [&](cvprofiles_t& list) {
      const auto same = std::find_if(list.begin(), list.end(), [&](const cvprofile_t& r) {
        return r.profileindex == record.profileindex && r.formindex == record.formindex;
      });
      if (same == list.end())
        list.push_back(std::move(record));
      else
        *same = std::move(record);
      return S_OK;
    });
  });
}

extern "C" HRESULT WINAPI dll_function_kvichangepassword(LPCWSTR template_id,
                                                         LPCWSTR profile_data_text,
                                                         LONG profile_index,
                                                         LPCWSTR dbname,
                                                         LPCWSTR new_password,
                                                         LPWSTR* new_profile_data) {
  return entry_point(L"dll_function_kvichangepassword", [&]() -> HRESULT {
    const std::string name = templates::wide_to_utf8(dbname ? dbname : L"");
    return rewrite(template_id, profile_data_text, new_profile_data, [&](cvprofiles_t& list) {
      for (cvprofile_t& record : list) {
        if (record.profileindex != profile_index || record.operation == kOperationDeleted)
          continue;
        for (auto& item : record.items) {
          if (item.dbname == name) {
            item.value = new_password ? new_password : L"";
            record.updatedate = standin::update_date_text();
            return S_OK;
          }
        }
      }
      return kNotFound;
    });
  });
}
