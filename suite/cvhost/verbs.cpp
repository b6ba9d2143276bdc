#include "verbs.h"

#include <string>

#include "drive_runner.h"
#include "output.h"
#include "page_site.h"
#include "plugin/CVOnlineIDsLib.h"
#include "plugin_module.h"
#include "property_sheet.h"
#include "support/unique_any.h"

namespace cvhost {

using namespace CVONLINEIDSLib;

namespace {

// The exit code of a verb whose call returned hr; a failure is explained on stderr.
int call_result(const options_t& options, HRESULT hr) {
  if (SUCCEEDED(hr))
    return kExitOk;
  print_message(options.verb_name + " failed: " + hex(hr) + " " + hresult_text(hr));
  return kExitCallFailed;
}

std::string bstr_value(const VARIANT& value) {
  return value.vt == VT_BSTR && value.bstrVal ? utf8(value.bstrVal) : std::string();
}

// The plug-in's answer of a GetInfo/GetProperty kind of call.
int print_variant_result(const options_t& options, HRESULT hr, const unique_variant& value) {
  print_result(options.verb_name + " " + std::to_string(options.id) + ": hr=" + hex(hr) +
               " vt=" + std::to_string((*value).vt) + " value=" + bstr_value(*value));
  return call_result(options, hr);
}

// The elements of a one-dimensional SAFEARRAY, each handed to visit.
template <typename Element, typename Visit>
bool for_each_element(SAFEARRAY* array, Visit visit) {
  LONG lower = 0;
  LONG upper = -1;
  if (array == nullptr || ::SafeArrayGetDim(array) != 1 ||
      FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(::SafeArrayGetUBound(array, 1, &upper)))
    return false;
  if (upper < lower)
    return true;
  const safearray_data data(array);
  if (FAILED(data.status()))
    return false;
  const auto* elements = static_cast<const Element*>(data.data());
  for (LONG i = 0; i <= upper - lower; ++i)
    visit(elements[i]);
  return true;
}

// Names of a backup as one line: comma-separated, or "(empty)".
std::string backup_names(const VARIANT& names) {
  std::string joined;
  auto add = [&joined](const wchar_t* name) {
    if (!joined.empty())
      joined += ',';
    joined += utf8(name ? name : L"");
  };
  switch (names.vt) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_BSTR:
      add(names.bstrVal);
      break;
    case VT_ARRAY | VT_BSTR:
      for_each_element<BSTR>(names.parray, [&](BSTR name) { add(name); });
      break;
    case VT_ARRAY | VT_VARIANT:
      for_each_element<VARIANT>(names.parray, [&](const VARIANT& name) {
        add(name.vt == VT_BSTR ? name.bstrVal : nullptr);
      });
      break;
    default:
      return "(vt=" + std::to_string(names.vt) + ")";
  }
  return joined.empty() ? "(empty)" : joined;
}

void write_file(const std::wstring& path, const std::vector<BYTE>& bytes) {
  const support::unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file ||
      (!bytes.empty() && (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                       &written, nullptr) ||
                          written != bytes.size()))) {
    const DWORD error = ::GetLastError();
    throw host_error(kExitFile, "cannot write " + utf8(path) + ": error " + std::to_string(error) +
                                    " " + error_text(error));
  }
}

int status(const options_t& options, const com_ptr<IUnknown>& object) {
  const auto status =
      query_interface<ICVPSecurityStatus>(object, IID_ICVPSecurityStatus, "ICVPSecurityStatus");
  LONG value = 0;
  unique_bstr text;
  const HRESULT hr = status->GetStatus(&value, text.put());
  print_result("status: hr=" + hex(hr) + " value=" + std::to_string(value) +
               " text=" + utf8(text.text()));
  return call_result(options, hr);
}

int disable_status(const options_t& options, const com_ptr<IUnknown>& object) {
  const auto disable =
      query_interface<ICVHCDisableApp>(object, IID_ICVHCDisableApp, "ICVHCDisableApp");
  LONG value = 0;
  const HRESULT hr = disable->GetStatus(&value);
  print_result("disable-status: hr=" + hex(hr) + " value=" + std::to_string(value));
  return call_result(options, hr);
}

int disable_local(const options_t& options, const com_ptr<IUnknown>& object, bool disable) {
  const auto app = query_interface<ICVHCDisableApp>(object, IID_ICVHCDisableApp, "ICVHCDisableApp");
  const HRESULT hr = app->DisableLocal(disable ? 1 : 0);
  print_result(options.verb_name + ": hr=" + hex(hr));
  return call_result(options, hr);
}

int info(const options_t& options, const com_ptr<IUnknown>& object) {
  const auto info =
      query_interface<ICVHCPluginInfo>(object, IID_ICVHCPluginInfo, "ICVHCPluginInfo");
  unique_variant value;
  const HRESULT hr = info->GetInfo(options.id, value.get());
  return print_variant_result(options, hr, value);
}

int property(const options_t& options, const com_ptr<IUnknown>& object) {
  const auto element =
      query_interface<ICVHCElementUI>(object, IID_ICVHCElementUI, "ICVHCElementUI");
  unique_variant value;
  const HRESULT hr = element->GetProperty(options.id, value.get());
  return print_variant_result(options, hr, value);
}

// Asks the plug-in for its pages through a page site answering as the options
// say; the site keeps the pages it accepted.
com_ptr<CPageSite> request_pages(const options_t& options,
                                 const com_ptr<IUnknown>& object,
                                 HRESULT& hr) {
  const auto pages = query_interface<ICVHCPages>(object, IID_ICVHCPages, "ICVHCPages");
  site_settings_t settings;
  settings.kind = options.kind;
  settings.first_view_missing = options.first_view_mode == first_view_mode_t::missing;
  settings.first_view_is_number = options.first_view_mode == first_view_mode_t::integer;
  settings.first_view_text = options.first_view_text;
  settings.first_view_number = options.first_view_number;
  settings.refused_orders = options.refused_orders;
  settings.quiet = options.quiet;
  com_ptr<CPageSite> site = CPageSite::create(std::move(settings));
  hr = pages->AddPages(site.get());

  // The plug-in keeps nothing of the site once it has handed its pages over.
  const ULONG references = site->AddRef();
  site->Release();
  if (references > 2 && !options.quiet)
    print_message("note: the plug-in still holds " + std::to_string(references - 2) +
                  " reference(s) to the page site");
  return site;
}

std::string icon_module_name(HINSTANCE icon_module, HMODULE plugin_module) {
  if (icon_module == nullptr)
    return "none";
  return icon_module == plugin_module ? "self" : "other";
}

int pages(const options_t& options, const com_ptr<IUnknown>& object, HMODULE plugin_module) {
  HRESULT hr = S_OK;
  const com_ptr<CPageSite> site = request_pages(options, object, hr);
  std::vector<received_page_t>& pages = site->pages();
  print_result("pages: hr=" + hex(hr) + " count=" + std::to_string(pages.size()));
  for (const received_page_t& page : pages) {
    print_result("page: order=" + std::to_string(page.order) +
                 " location=" + std::to_string(page.location) +
                 " flags=" + std::to_string(page.flags) + " group=" + utf8(page.group) +
                 " kind=" + std::to_string(page.kind) + " size=" + std::to_string(page.size) +
                 " title=" + (page.title ? utf8(*page.title) : std::string("(none)")) +
                 " icon=" + std::to_string(page.icon_id) +
                 " iconmodule=" + icon_module_name(page.icon_module, plugin_module));
  }
  pages.clear();  // destroys the pages while their module is still loaded
  return call_result(options, hr);
}

// show, and drive with a runner for its script.
int show(const options_t& options, const com_ptr<IUnknown>& object, CDriveRunner* runner) {
  HRESULT hr = S_OK;
  const com_ptr<CPageSite> site = request_pages(options, object, hr);
  std::vector<received_page_t>& pages = site->pages();
  print_result(options.verb_name + ": hr=" + hex(hr) + " count=" + std::to_string(pages.size()));
  if (FAILED(hr)) {
    pages.clear();
    return call_result(options, hr);
  }
  if (pages.empty()) {
    print_result(options.verb_name + ": no pages");
    const int shown =
        show_console_overview(L"The plug-in added no pages to this console (host kind " +
                                  options.kind.value_or(L"none") + L").",
                              options, runner);
    return shown == kExitOk ? kExitNoPages : shown;
  }
  return show_property_sheet(pages, options, runner);
}

int backup(const options_t& options, const com_ptr<IUnknown>& object) {
  const auto storage =
      query_interface<ICVHCBackupRestore>(object, IID_ICVHCBackupRestore, "ICVHCBackupRestore");
  unique_variant names;
  unique_variant data;
  const HRESULT hr = storage->GetStorageData(names.get(), data.get());

  std::vector<BYTE> bytes;
  bool readable = true;
  if ((*data).vt == (VT_ARRAY | VT_UI1))
    readable = for_each_element<BYTE>((*data).parray, [&bytes](BYTE b) { bytes.push_back(b); });
  else if ((*data).vt != VT_EMPTY)
    readable = false;
  print_result("backup: hr=" + hex(hr) + " names=" + backup_names(*names) +
               " bytes=" + std::to_string(bytes.size()));
  if (!readable && !options.quiet)
    print_message("note: the data is not a one-dimensional byte array (vt " +
                  std::to_string((*data).vt) + "); nothing of it is written");
  if (FAILED(hr))
    return call_result(options, hr);  // an existing backup file stays as it was
  write_file(options.file, bytes);
  return kExitOk;
}

int restore(const options_t& options,
            const com_ptr<IUnknown>& object,
            const std::vector<BYTE>& bytes) {
  const auto storage =
      query_interface<ICVHCBackupRestore>(object, IID_ICVHCBackupRestore, "ICVHCBackupRestore");
  unique_safearray array(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
  if (!array)
    throw host_error(kExitCallFailed, "restore: out of memory for the data");
  if (!bytes.empty()) {
    const safearray_data access(array.get());
    if (FAILED(access.status()))
      throw host_error(kExitCallFailed,
                       "restore: cannot fill the data array: " + hresult_text(access.status()));
    std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(access.data()));
  }
  unique_variant data;
  data.get()->vt = VT_ARRAY | VT_UI1;
  data.get()->parray = array.release();
  const HRESULT hr = storage->SetStorageData(data.get());
  print_result("restore: hr=" + hex(hr));
  return call_result(options, hr);
}

}  // namespace

std::vector<BYTE> read_restore_file(const std::wstring& path) {
  const support::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
  LARGE_INTEGER size{};
  if (file && ::GetFileSizeEx(file.get(), &size) && size.QuadPart <= 0x7FFFFFFF) {
    std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (bytes.empty() ||
        (::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
         read == bytes.size()))
      return bytes;
  }
  const DWORD error = ::GetLastError();
  throw host_error(kExitFile, "cannot read " + utf8(path) + ": error " + std::to_string(error) +
                                  " " + error_text(error));
}

std::vector<drive::step_t> read_script(const std::wstring& path) {
  const std::vector<BYTE> bytes = read_restore_file(path);
  try {
    return drive::parse_script(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } catch (const drive::script_error& error) {
    throw host_error(kExitUsage, utf8(path) + ": " + error.what());
  }
}

int run_verb(const options_t& options,
             const com_ptr<IUnknown>& object,
             HMODULE plugin_module,
             const std::vector<BYTE>& restore_data,
             std::vector<drive::step_t> script) {
  switch (options.verb) {
    case verb_t::status:
      return status(options, object);
    case verb_t::disable_status:
      return disable_status(options, object);
    case verb_t::disable:
      return disable_local(options, object, true);
    case verb_t::enable:
      return disable_local(options, object, false);
    case verb_t::info:
      return info(options, object);
    case verb_t::property:
      return property(options, object);
    case verb_t::pages:
      return pages(options, object, plugin_module);
    case verb_t::show:
      return show(options, object, nullptr);
    case verb_t::drive: {
      CDriveRunner runner(std::move(script));
      return show(options, object, &runner);
    }
    case verb_t::backup:
      return backup(options, object);
    case verb_t::restore:
      return restore(options, object, restore_data);
  }
  return kExitUsage;
}

}  // namespace cvhost
