// The suite's training component, "CvUTrain.dll": the account dialog with
// which the user adds an account to a logon or edits one, and the training
// monitor that teaches a new logon (run through CvRunDll.exe). Both can be
// answered by a script instead of the user (form_dialog.h). Behaviour:
// docs/fillin-training.md.
#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/cotaskmem_block.h"
#include "store/portable/profile_records.h"
#include "suite/CvUTrain/form_dialog.h"
#include "suite/CvUTrain/logon_template.h"
#include "suite/common/standin_faults.h"
#include "suite/common/standin_time.h"
#include "suite/include/fillin_api.h"
#include "suite/include/pstore_api.h"
#include "support/hresult.h"
#include "support/unique_any.h"
#include "templates/portable/manifest.h"
#include "templates/portable/manifest_text.h"
#include "templates/portable/template_reader.h"

namespace {

using cvutrain::form_row_t;
using serialization::cvprofile_t;
using serialization::cvprofileitem_t;
using serialization::cvprofiles_t;
using serialization::secure_wstring;

constexpr wchar_t kLibrary[] = L"CvUTrain";
constexpr std::int32_t kOperationNew = 1;
constexpr std::int32_t kOperationDeleted = 2;

template <typename Body>
HRESULT entry_point(const wchar_t* name, Body&& body) noexcept {
  try {
    if (const HRESULT fault = standin::injected_fault(kLibrary, name))
      return fault;
    return body();
  } catch (...) {
    return cvutrain::caught_failure();
  }
}

HMODULE this_module() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

// A suite library beside this one (the process's copy when it has one).
support::unique_hmodule sibling(const wchar_t* file) {
  support::unique_hmodule module(
      ::LoadLibraryExW((cvutrain::module_folder(this_module()) + file).c_str(), nullptr,
                       LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module)
    support::throw_last_error("LoadLibraryExW");
  return module;
}

template <typename Fn>
Fn entry(HMODULE module, const char* name) {
  const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  if (fn == nullptr)
    THROW_HR(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  return fn;
}

void wipe_task_string(wchar_t* text) noexcept {
  if (text == nullptr)
    return;
  ::SecureZeroMemory(text, std::wcslen(text) * sizeof(wchar_t));
  ::CoTaskMemFree(text);
}

// The template's profiles in the profile data, through the fill-in component.
cvprofiles_t stored_profiles(const std::wstring& template_id, const wchar_t* profile_data) {
  const support::unique_hmodule fill = sibling(L"CvFillin.dll");
  const auto get = entry<dll_function_get_profiles_fn>(fill.get(), "dll_function_get_profiles");
  serialization::cotaskmem_block_t image;
  BYTE* bytes = nullptr;
  DWORD size = 0;
  const HRESULT hr = get(template_id.c_str(), profile_data, &bytes, &size);
  image.attach(bytes, size);
  THROW_IF_FAILED(hr);
  cvprofiles_t list;
  if (!image.empty())
    serialization::LoadProfilesImage(image.data(), image.size(), list);
  return list;
}

// References of the caller's protected-storage session: read to show a
// stored password, staged to keep a new one out of the profile text.
class storage_session_t {
 public:
  explicit storage_session_t(DWORD handle) : m_handle(handle) {
    const HMODULE storage = handle != 0 ? ::GetModuleHandleW(L"CvoPS.dll") : nullptr;
    if (storage == nullptr)
      return;
    m_get = reinterpret_cast<CVOPSGetReference_fn>(
        reinterpret_cast<void*>(::GetProcAddress(storage, "CVOPSGetReference")));
    m_set = reinterpret_cast<CVOPSSetReference_fn>(
        reinterpret_cast<void*>(::GetProcAddress(storage, "CVOPSSetReference")));
  }
  bool can_stage() const noexcept { return m_set != nullptr; }

  std::optional<secure_wstring> get(std::wstring_view name) const {
    if (m_get == nullptr)
      return std::nullopt;
    const std::wstring key(name);
    wchar_t* value = nullptr;
    const HRESULT hr = m_get(m_handle, key.c_str(), &value);
    std::optional<secure_wstring> result;
    if (SUCCEEDED(hr) && value != nullptr) {
      try {
        result = secure_wstring(value);
      } catch (...) {
        wipe_task_string(value);
        throw;
      }
    }
    wipe_task_string(value);
    return result;
  }

  void stage(std::wstring_view name, const secure_wstring& value) const {
    const std::wstring key(name);
    THROW_IF_FAILED(m_set(m_handle, key.c_str(), value.c_str()));
  }

 private:
  DWORD m_handle = 0;
  CVOPSGetReference_fn m_get = nullptr;
  CVOPSSetReference_fn m_set = nullptr;
};

HRESULT read_template(std::wstring path, templates::manifest_t& manifest) {
  if (path.starts_with(templates::kAlienPrefix))
    path.erase(0, templates::kAlienPrefixLength);
  support::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return HRESULT_FROM_WIN32(::GetLastError());
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 16 * 1024 * 1024)
    return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    return HRESULT_FROM_WIN32(::GetLastError());
  bytes.resize(read);
  try {
    templates::read_manifest(bytes.data(), bytes.size(), manifest);
  } catch (const std::runtime_error&) {
    return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  }
  return S_OK;
}

const templates::form_t* form_of(const templates::manifest_t& manifest, std::int32_t index) {
  for (const auto& form : manifest.forms)
    if (form.context.index == index)
      return &form;
  if (index >= 0 && static_cast<std::size_t>(index) < manifest.forms.size())
    return &manifest.forms[static_cast<std::size_t>(index)];
  return manifest.forms.empty() ? nullptr : &manifest.forms.front();
}

// Fields the user gives a value: no buttons, no values of the template's own,
// no fields that only receive a value.
bool asked(const templates::field_t& field) {
  return field.type != templates::field_button && field.valuekind == templates::value_stored &&
         field.rfield != templates::rfield_out;
}

// The item that holds a field's value: same database name, or for a field
// without one, no database name and the same display name.
bool holds_field(const cvprofileitem_t& item, const templates::field_t& field) {
  if (item.value_op == kOperationDeleted)
    return false;
  if (!field.dbname.empty())
    return item.dbname == field.dbname;
  return item.dbname.empty() && item.displayname == templates::utf8_to_wide(field.displayname);
}

struct field_row_t {
  const templates::field_t* field = nullptr;
  std::optional<std::size_t> item;  // in the request's items
  secure_wstring shown;             // what the dialog started with
};

HRESULT modify_profile(HWND owner,
                       DWORD mode,
                       LPCWSTR template_path,
                       LPCWSTR template_id,
                       DWORD storage,
                       LPCWSTR profile_data,
                       const BYTE* request_bytes,
                       DWORD request_size,
                       BYTE** profile,
                       DWORD* profile_size) {
  if (profile == nullptr || profile_size == nullptr)
    return E_POINTER;
  *profile = nullptr;
  *profile_size = 0;
  if ((mode != CVUTRAIN_MODE_ADD && mode != CVUTRAIN_MODE_EDIT) || template_path == nullptr ||
      template_path[0] == L'\0')
    return E_INVALIDARG;
  cvprofile_t request;
  if (request_size != 0) {
    if (request_bytes == nullptr)
      return E_POINTER;
    if (!serialization::LoadProfileImage(request_bytes, request_size, request))
      return E_INVALIDARG;
  }
  templates::manifest_t manifest;
  if (const HRESULT hr = read_template(template_path, manifest); FAILED(hr))
    return hr;
  const std::wstring id = template_id != nullptr && template_id[0] != L'\0'
                              ? std::wstring(template_id)
                              : templates::utf8_to_wide(manifest.descriptor.id);
  const bool adding = mode == CVUTRAIN_MODE_ADD;
  if (adding) {
    // A new account gets a profile index that no stored account has.
    const cvprofiles_t stored = profile_data != nullptr && profile_data[0] != L'\0'
                                    ? stored_profiles(id, profile_data)
                                    : cvprofiles_t();
    const bool taken = std::any_of(stored.begin(), stored.end(), [&](const cvprofile_t& r) {
      return r.profileindex == request.profileindex;
    });
    if (taken)
      for (const cvprofile_t& r : stored)
        request.profileindex = std::max(request.profileindex, r.profileindex + 1);
    request.items.clear();
  }

  const storage_session_t session(storage);
  const templates::form_t* form = form_of(manifest, request.formindex);
  std::vector<form_row_t> rows;
  std::vector<field_row_t> fields;
  rows.push_back({L"profilename", L"Account name",
                  secure_wstring(std::wstring_view(request.profilename)), false, true});
  if (form != nullptr) {
    for (const auto& field : form->fields) {
      if (!asked(field))
        continue;
      field_row_t row{&field, std::nullopt, {}};
      for (std::size_t i = 0; i < request.items.size(); ++i)
        if (holds_field(request.items[i], field)) {
          row.item = i;
          const std::wstring_view stored = request.items[i].value.view();
          if (!serialization::IsReference(stored))
            row.shown = stored;
          else if (auto value = session.get(serialization::ReferenceName(stored)))
            row.shown = std::move(*value);
          break;
        }
      const std::wstring display = templates::utf8_to_wide(field.displayname);
      const std::wstring db = templates::utf8_to_wide(field.dbname);
      form_row_t question;
      question.key = !db.empty()        ? db
                     : !display.empty() ? display
                                        : L"field" + std::to_wstring(fields.size());
      question.label = !display.empty() ? display : !db.empty() ? db : question.key;
      question.value = row.shown;
      question.password = field.password;
      rows.push_back(std::move(question));
      fields.push_back(std::move(row));
    }
  }

  std::wstring logon = form != nullptr ? templates::utf8_to_wide(form->options.choosename) : L"";
  if (logon.empty())
    logon = id;
  const std::wstring title = (adding ? L"Add account - " : L"Edit account - ") + logon;
  if (!cvutrain::ask(this_module(), owner, title, rows))
    return S_FALSE;

  cvprofile_t result = request;
  result.profilename = rows[0].value.view();
  result.operation = adding || request.operation == 0 || request.operation == kOperationDeleted
                         ? kOperationNew
                         : request.operation;
  bool changed = result.profilename != request.profilename;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const field_row_t& row = fields[f];
    const secure_wstring& answer = rows[f + 1].value;
    if (answer == row.shown)
      continue;  // unchanged: a reference stays a reference, a missing item stays missing
    changed = true;
    std::size_t index;
    if (row.item) {
      index = *row.item;
    } else {
      cvprofileitem_t item;
      item.displayname = templates::utf8_to_wide(row.field->displayname);
      item.dbname = row.field->dbname;
      result.items.push_back(std::move(item));
      index = result.items.size() - 1;
    }
    cvprofileitem_t& item = result.items[index];
    if (row.field->password && session.can_stage() && !answer.empty()) {
      // The password goes into the protected storage as a reference, staged
      // on the caller's session and committed with the caller's text.
      std::wstring name(serialization::ReferenceName(item.value.view()));
      if (name.empty())
        name = id + L"/" + std::to_wstring(result.profileindex) + L"/" +
               std::to_wstring(result.formindex) + L"/" + std::to_wstring(index);
      session.stage(name, answer);
      item.value = std::wstring(serialization::kReferenceMarker) + name;
    } else {
      item.value = answer;
    }
  }
  if (!adding && !changed)
    return S_FALSE;
  result.updatedate = standin::update_date_text();

  serialization::cotaskmem_block_t image;
  if (serialization::SaveProfileImage(result, image) == 0)
    return E_OUTOFMEMORY;
  *profile_size = image.size();
  *profile = image.detach();
  return S_OK;
}

// The new logon's profile into the protected storage: one record with the
// user name and, as a reference, the password; text and reference are
// committed together.
void save_new_logon(const cvutrain::written_template_t& logon,
                    const secure_wstring& name,
                    const secure_wstring& user,
                    const secure_wstring& password) {
  const support::unique_hmodule ps = sibling(L"CvoPS.dll");
  const support::unique_hmodule fill = sibling(L"CvFillin.dll");
  const auto init = entry<CVOPSInit_fn>(ps.get(), "CVOPSInit");
  const auto term = entry<CVOPSTerm_fn>(ps.get(), "CVOPSTerm");
  const auto begin = entry<CVOPSBeginTransaction_fn>(ps.get(), "CVOPSBeginTransaction");
  const auto end = entry<CVOPSEndTransaction_fn>(ps.get(), "CVOPSEndTransaction");
  const auto query = entry<CVOPSQuery_fn>(ps.get(), "CVOPSQuery");
  const auto save = entry<CVOPSSave_fn>(ps.get(), "CVOPSSave");
  const auto set_reference = entry<CVOPSSetReference_fn>(ps.get(), "CVOPSSetReference");
  const auto update =
      entry<dll_function_update_profiles_fn>(fill.get(), "dll_function_update_profiles");

  cvprofile_t record;
  record.operation = kOperationNew;
  record.profilename = !user.empty() ? user.view() : name.view();
  record.qlinkname = name.view();
  record.submitprofile = 1;
  record.updatedate = standin::update_date_text();
  cvprofileitem_t user_item;
  user_item.displayname = L"User name";
  user_item.dbname = "username";
  user_item.value = user;
  cvprofileitem_t password_item;
  password_item.displayname = L"Password";
  password_item.dbname = "password";
  const std::wstring reference = logon.id + L"/0/0/1";
  if (!password.empty())
    password_item.value = std::wstring(serialization::kReferenceMarker) + reference;
  record.items = {user_item, password_item};
  serialization::memoryblock_T<serialization::aloocator_cpp> image;
  if (serialization::SaveProfilesImage({record}, image) == 0)
    THROW_HR(E_OUTOFMEMORY);

  DWORD handle = 0;
  THROW_IF_FAILED(init(CVOPS_VERSION, &handle, CVOPS_ACCESS_READWRITE));
  support::scope_exit end_session([&] { term(handle, CVOPS_TERM_DISCARD); });
  THROW_IF_FAILED(begin(handle));
  support::scope_exit roll_back([&] { end(handle, CVOPS_END_ROLLBACK); });
  wchar_t* text = nullptr;
  HRESULT hr = query(handle, nullptr, &text);
  wchar_t* changed = nullptr;
  if (SUCCEEDED(hr))
    hr = update(logon.id.c_str(), text, image.data(), image.size(), &changed);
  wipe_task_string(text);
  if (SUCCEEDED(hr))
    hr = save(handle, changed);
  wipe_task_string(changed);
  THROW_IF_FAILED(hr);
  if (!password.empty())
    THROW_IF_FAILED(set_reference(handle, reference.c_str(), password.c_str()));
  roll_back.release();
  THROW_IF_FAILED(end(handle, CVOPS_END_COMMIT));
}

// Tells the suite: the agent rebuilds its template cache (waited for, so the
// list it publishes holds the new template), every console hears that the
// storage changed, and the console that started the training comes back.
void announce(HWND console) {
  const DWORD pid = ::GetCurrentProcessId();
  if (HWND agent = ::FindWindowW(L"Corvantis Pro Agent", L"Corvantis Pro Agent")) {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(agent, ::RegisterWindowMessageW(L"WM_CV_AGENT_REFRESHCACHE"), 0, pid,
                          SMTO_ABORTIFHUNG | SMTO_BLOCK, 5000, &ignored);
  }
  DWORD recipients = BSM_APPLICATIONS | BSM_ALLDESKTOPS;
  ::BroadcastSystemMessageW(BSF_POSTMESSAGE | BSF_FORCEIFHUNG, &recipients,
                            ::RegisterWindowMessageW(L"WM_CV_PSTORAGE_UPDATED"), 0, pid);
  if (console != nullptr && ::IsWindow(console))
    ::PostMessageW(console, ::RegisterWindowMessageW(L"WM_CV_FLM_RESTORE"), 0, pid);
}

HWND window_value(const wchar_t* text) {
  if (text == nullptr)
    return nullptr;
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(text, &end, 0);
  if (end == text || *end != L'\0')
    return nullptr;
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}

HRESULT start_monitor(int count, const LPCWSTR* values) {
  if (count < 0 || (count > 0 && values == nullptr))
    return E_INVALIDARG;
  HWND console = count > 0 ? window_value(values[0]) : nullptr;
  std::vector<form_row_t> rows = {
      {L"name", L"Logon name", {}, false, true},
      {L"address", L"Web address", {}, false, true},
      {L"username", L"User name", {}, false, false},
      {L"password", L"Password", {}, true, false},
  };
  if (!cvutrain::ask(this_module(), nullptr, L"New logon", rows))
    return S_FALSE;
  const std::wstring folder = cvutrain::user_template_folder(this_module());
  const cvutrain::written_template_t logon =
      cvutrain::write_web_logon_template(folder, rows[0].value.view(), rows[1].value.view());
  try {
    save_new_logon(logon, rows[0].value, rows[2].value, rows[3].value);
  } catch (...) {
    // A logon without its profile is no logon: the template goes again.
    ::DeleteFileW(logon.path.c_str());
    throw;
  }
  announce(console);
  return S_OK;
}

wchar_t* task_string(const std::wstring& text) {
  auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (copy == nullptr)
    throw std::bad_alloc();
  std::copy(text.begin(), text.end(), copy);
  copy[text.size()] = L'\0';
  return copy;
}

}  // namespace

extern "C" HRESULT WINAPI dll_function_modifyprofile(HWND owner,
                                                     DWORD mode,
                                                     LPCWSTR template_path,
                                                     LPCWSTR template_id,
                                                     DWORD storage,
                                                     LPCWSTR profile_data,
                                                     const BYTE* request,
                                                     DWORD request_size,
                                                     DWORD flags,
                                                     BYTE** profile,
                                                     DWORD* profile_size) {
  return entry_point(L"dll_function_modifyprofile", [&]() -> HRESULT {
    return modify_profile(owner, mode, template_path, template_id, storage, profile_data, request,
                          request_size, profile, profile_size);
  });
}

extern "C" HRESULT WINAPI dll_function_createmanifest(LPCWSTR name,
                                                      LPCWSTR address,
                                                      LPCWSTR folder,
                                                      LPWSTR* template_path,
                                                      LPWSTR* template_id) {
  return entry_point(L"dll_function_createmanifest", [&]() -> HRESULT {
    if (template_path == nullptr || template_id == nullptr)
      return E_POINTER;
    *template_path = nullptr;
    *template_id = nullptr;
    if (name == nullptr || name[0] == L'\0' || address == nullptr || address[0] == L'\0')
      return E_INVALIDARG;
    const std::wstring target = folder != nullptr && folder[0] != L'\0'
                                    ? std::wstring(folder)
                                    : cvutrain::user_template_folder(this_module());
    const auto written = cvutrain::write_web_logon_template(target, name, address);
    wchar_t* path = task_string(written.path);
    try {
      *template_id = task_string(written.id);
    } catch (...) {
      ::CoTaskMemFree(path);
      throw;
    }
    *template_path = path;
    return S_OK;
  });
}

extern "C" HRESULT WINAPI dll_function_startmonitor(int count, const LPCWSTR* values) {
  return entry_point(L"dll_function_startmonitor",
                     [&]() -> HRESULT { return start_monitor(count, values); });
}
