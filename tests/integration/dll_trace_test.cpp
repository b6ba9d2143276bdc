// Loads the built component as a host would, with tracing switched on in the
// machine's registry, and reads back what it traced from its trace file.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "plugin/CVOnlineIDsLib.h"
#include "tests/support/win_test_helpers.h"
#include "tools/tracereader/trace_reader.h"

namespace {

constexpr wchar_t kTracingKey[] = L"SOFTWARE\\Corvantis\\Tracing";

class DllTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* name : {L"DoTrace", L"TraceToFile", L"NewFileAlways"})
      ASSERT_EQ(testsupport::set_reg_dword(HKEY_LOCAL_MACHINE, kTracingKey, name, 1),
                ERROR_SUCCESS);
    testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kTracingKey, L"TracePath", m_folder.path());
  }
  void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTracingKey); }

  testsupport::scratch_folder_t m_folder;
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

  // The file of this process: PROGRAM.CVOnlineIDs.dll.SESSION.PID.trc3
  wchar_t path[MAX_PATH];
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
  const std::wstring file = m_folder.path() + std::filesystem::path(path).stem().wstring() +
                            L".CVOnlineIDs.dll." + std::to_wstring(session) + L"." +
                            std::to_wstring(::GetCurrentProcessId()) + L".trc3";
  const std::string text = testsupport::read_file(file);
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
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
