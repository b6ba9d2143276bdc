// A stand-in provider image for the repair walk: its DllRegisterServer appends
// the DLL's own path to the file named by CV_FAKE_PROVIDER_LOG.
#include <windows.h>

#include <string>

namespace {
HMODULE g_module = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    g_module = instance;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t log[MAX_PATH] = L"";
  if (::GetEnvironmentVariableW(L"CV_FAKE_PROVIDER_LOG", log, MAX_PATH) == 0)
    return S_OK;
  wchar_t path[MAX_PATH] = L"";
  ::GetModuleFileNameW(g_module, path, MAX_PATH);
  HANDLE file = ::CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return HRESULT_FROM_WIN32(::GetLastError());
  const std::wstring line = std::wstring(path) + L"\n";
  DWORD written = 0;
  ::WriteFile(file, line.c_str(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
              nullptr);
  ::CloseHandle(file);
  return S_OK;
}
