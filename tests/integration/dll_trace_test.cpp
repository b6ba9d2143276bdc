// Loads the built component as a host would, with tracing switched on in the
// machine's registry, and reads back what it traced from its trace file.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/CVOnlineIDsLib.h"
#include "support/registry.h"
#include "tools/tracereader/trace_reader.h"

namespace {

constexpr wchar_t kTracingKey[] = L"SOFTWARE\\Corvantis\\Tracing";

std::wstring temp_folder() {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  std::wstring folder =
      std::wstring(base) + L"cvdlltrace" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\";
}

std::vector<std::uint8_t> read_file(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::wstring exe_base_name() {
  wchar_t path[MAX_PATH];
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  name = name.substr(name.find_last_of(L'\\') + 1);
  return name.substr(0, name.find_last_of(L'.'));
}

class DllTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = temp_folder();
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTracingKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    support::unique_hkey tracing(key);
    set_dword(key, L"DoTrace", 1);
    set_dword(key, L"TraceToFile", 1);
    set_dword(key, L"NewFileAlways", 1);
    ::RegSetValueExW(key, L"TracePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_folder.c_str()),
                     static_cast<DWORD>((m_folder.size() + 1) * sizeof(wchar_t)));
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTracingKey);
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((m_folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do
        ::DeleteFileW((m_folder + found.cFileName).c_str());
      while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    ::RemoveDirectoryW(m_folder.c_str());
  }
  static void set_dword(HKEY key, const wchar_t* name, DWORD value) {
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }

  std::wstring m_folder;
};

TEST_F(DllTrace, LoadCreateCallUnloadIsTracedToTheProcessFile) {
  HMODULE dll = ::LoadLibraryW(L"CVOnlineIDs.dll");
  ASSERT_NE(dll, nullptr) << ::GetLastError();
  using get_class_fn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  const auto get_class = reinterpret_cast<get_class_fn>(
      reinterpret_cast<void*>(::GetProcAddress(dll, "DllGetClassObject")));
  ASSERT_TRUE(get_class);
  EXPECT_EQ(::GetProcAddress(dll, "DllCanUnloadNow"), nullptr);

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(get_class(CLSID_NULL, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(get_class(CVONLINEIDSLib::CLSID_CCVHCPages, IID_IClassFactory,
                      reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
  void* aggregated = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(aggregated, nullptr);
  CVONLINEIDSLib::ICVHCPluginInfo* info = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, CVONLINEIDSLib::IID_ICVHCPluginInfo,
                                    reinterpret_cast<void**>(&info)),
            S_OK);
  factory->Release();
  VARIANT value;
  ::VariantInit(&value);
  EXPECT_EQ(info->GetInfo(0, &value), S_OK);
  ::VariantClear(&value);
  info->Release();
  ASSERT_TRUE(::FreeLibrary(dll));

  DWORD session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
  const std::wstring file = m_folder + exe_base_name() + L".CVOnlineIDs.dll." +
                            std::to_wstring(session) + L"." +
                            std::to_wstring(::GetCurrentProcessId()) + L".trc3";
  const auto bytes = read_file(file);
  ASSERT_FALSE(bytes.empty()) << "no trace file";
  const auto trace = tracereader::decode_trace(bytes, false);
  ASSERT_FALSE(trace.failure) << trace.failure->message();
  ASSERT_GE(trace.header.size(), 10u);
  EXPECT_EQ(trace.header[0], "trace3");
  EXPECT_EQ(trace.header[6], "FileVersion: 1.0.0.1");

  // Scopes that traced nothing (the factory, construction, release) leave no records.
  std::vector<std::string> seen;
  for (const auto& entry : trace.entries)
    if (entry.type != 't' && entry.type != 'T')
      seen.push_back(std::string(1, entry.type) + " " + entry.function.str() + " " + entry.text);
  const std::vector<std::string> expected = {
      "> DllGetClassObject DllGetClassObject",
      "E DllGetClassObject -2147221231 DllGetClassObject",
      "< DllGetClassObject ",
      "> CCVHCPages::GetInfo CCVHCPages::GetInfo",
      "U CCVHCPages::GetInfo 0 = {DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}[8]",
      "< CCVHCPages::GetInfo ",
      "> DllMain::ProcessDetach DllMain::ProcessDetach",
      "U DllMain::ProcessDetach live objects: 0",
      "< DllMain::ProcessDetach ",
  };
  EXPECT_EQ(seen, expected);
}

}  // namespace
