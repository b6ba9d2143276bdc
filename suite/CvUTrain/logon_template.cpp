#include "suite/CvUTrain/logon_template.h"

#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include <cstdio>
#include <optional>

#include "suite/include/suite_api.h"
#include "support/hresult.h"
#include "support/unique_any.h"
#include "templates/portable/manifest_text.h"

namespace cvutrain {
namespace {

constexpr wchar_t kFolderVariable[] = L"CVUTRAIN_STANDIN_TEMPLATE_DIR";

std::wstring with_separator(std::wstring path) {
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
    path += L'\\';
  return path;
}

std::optional<std::wstring> environment(const wchar_t* name) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size <= 1)
    return std::nullopt;
  std::wstring value(size, L'\0');
  value.resize(::GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

// A setting through the settings library beside this one.
std::optional<std::wstring> read_setting(HMODULE self, const wchar_t* name) {
  const support::unique_hmodule settings(::LoadLibraryExW(
      (module_folder(self) + L"CvoSet.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!settings)
    return std::nullopt;
  const auto query = reinterpret_cast<api_settings_query_fn>(
      reinterpret_cast<void*>(::GetProcAddress(settings.get(), "api_settings_query")));
  if (query == nullptr)
    return std::nullopt;
  BSTR request_name = ::SysAllocString(name);
  BSTR result = nullptr;
  SETTINGS_QUERY_REQUEST request{12, request_name, &result};
  const HRESULT hr = query(&request);
  ::SysFreeString(request_name);
  if (FAILED(hr) || result == nullptr)
    return std::nullopt;
  std::wstring value(result, ::SysStringLen(result));
  ::SysFreeString(result);
  return value;
}

std::string attribute(std::wstring_view text) {
  std::string out;
  for (const char c : templates::wide_to_utf8(text)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A file name from the logon name: letters, digits, blanks, "-", "_" and "."
// stay, everything else becomes "_".
std::wstring file_stem(std::wstring_view name) {
  std::wstring stem;
  for (const wchar_t c : name) {
    const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                       (c >= L'0' && c <= L'9') || c == L' ' || c == L'-' || c == L'_' ||
                       c == L'.' || c > 0x7F;
    stem += plain ? c : L'_';
  }
  while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.'))
    stem.pop_back();
  if (stem.empty())
    stem = L"logon";
  return stem.substr(0, 64);
}

std::wstring new_id() {
  GUID guid{};
  THROW_IF_FAILED(::CoCreateGuid(&guid));
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

}  // namespace

std::wstring module_folder(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  const std::wstring file(path, length);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

std::string now_text() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  return text;
}

std::wstring user_template_folder(HMODULE self) {
  if (auto folder = environment(kFolderVariable))
    return with_separator(*folder);
  if (auto folder = read_setting(self, L"localstorage_dir"); folder && !folder->empty())
    return with_separator(*folder);
  const auto appdata = environment(L"APPDATA");
  return with_separator(appdata.value_or(L"C:\\")) + L"Corvantis\\Logons\\";
}

std::wstring page_address(std::wstring_view address) {
  std::wstring page(address);
  if (page.find(L"://") == std::wstring::npos)
    page = L"https://" + page;
  return page;
}

std::string web_logon_template(std::wstring_view id,
                               std::wstring_view name,
                               std::wstring_view address,
                               std::string_view created) {
  const std::string page = attribute(page_address(address));
  std::string xml;
  xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<manifest>\n";
  xml += "  <descriptor id=\"" + attribute(id) + "\" created=\"" + std::string(created) +
         "\" modified=\"" + std::string(created) + "\" source=\"training\" version=\"1\"/>\n";
  xml += "  <forms>\n";
  xml += "    <form>\n";
  xml += "      <fcontext type=\"\" name=\"0\"/>\n";
  xml += "      <detection web_murl=\"" + page + "\" web_qurl=\"" + page + "\"/>\n";
  xml += "      <options choosename=\"" + attribute(name) + "\" submittype=\"dosubmit\"/>\n";
  xml += "      <fields>\n";
  xml +=
      "        <field type=\"edit\" displayname=\"User name\" "
      "path=\"form[0]/input[@type='text']\" dbname=\"username\" useit=\"1\"/>\n";
  xml +=
      "        <field type=\"edit\" displayname=\"Password\" "
      "path=\"form[0]/input[@type='password']\" dbname=\"password\" password=\"1\" "
      "useit=\"1\"/>\n";
  xml +=
      "        <field type=\"button\" displayname=\"Sign in\" "
      "path=\"form[0]/*[@type='submit']\" submit=\"1\" useit=\"1\"/>\n";
  xml += "      </fields>\n";
  xml += "    </form>\n";
  xml += "  </forms>\n";
  xml += "</manifest>\n";
  return xml;
}

written_template_t write_web_logon_template(const std::wstring& folder,
                                            std::wstring_view name,
                                            std::wstring_view address) {
  const int created = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS)
    THROW_HR(HRESULT_FROM_WIN32(static_cast<DWORD>(created)));
  written_template_t result;
  result.id = new_id();
  const std::string text = web_logon_template(result.id, name, address, now_text());
  const std::wstring stem = with_separator(folder) + file_stem(name);
  for (int n = 1; n < 1000; ++n) {
    result.path = stem + (n == 1 ? std::wstring() : L" (" + std::to_wstring(n) + L")") + L".cvm";
    support::unique_file file(::CreateFileW(result.path.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      if (::GetLastError() == ERROR_FILE_EXISTS)
        continue;
      support::throw_last_error("CreateFileW");
    }
    DWORD written = 0;
    if (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
      const DWORD error = ::GetLastError();
      file.reset();
      ::DeleteFileW(result.path.c_str());
      THROW_HR(HRESULT_FROM_WIN32(error ? error : ERROR_WRITE_FAULT));
    }
    return result;
  }
  THROW_HR(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
}

}  // namespace cvutrain
