// The calls the component makes into the suite's libraries, as the stand-ins
// under suite/ implement them. All entry points are __stdcall and exported
// undecorated.
#pragma once

#include <windows.h>
#include <oaidl.h>

extern "C" {

// CvoSet.dll: named settings, values as text.
struct SETTINGS_QUERY_REQUEST {
  DWORD size;    // 12
  BSTR name;     // setting name
  BSTR* result;  // receives the value; the caller frees it with SysFreeString
};
struct SETTINGS_SET_REQUEST {
  DWORD size;  // 12
  BSTR name;
  BSTR value;
};
typedef HRESULT(WINAPI* api_settings_query_fn)(SETTINGS_QUERY_REQUEST* request);
typedef HRESULT(WINAPI* api_settings_set_fn)(SETTINGS_SET_REQUEST* request);

// CVFPApi.dll: machine policy and the secret check.
struct CVFP_POLICY_RECORD {
  WCHAR name[32];  // zero-terminated, at most 31 characters
  HRESULT status;  // filled in by the callee
  BYTE reserved1[12];
  DWORD value;  // filled in by the callee
  BYTE reserved2[12];
};
static_assert(sizeof(CVFP_POLICY_RECORD) == 96, "policy record layout");
typedef HRESULT(WINAPI* CVFPGetPolicySettings_fn)(DWORD count, CVFP_POLICY_RECORD* records);
// Non-zero when the account (DOMAIN\user) has the named secret store.
typedef BOOL(WINAPI* CVFPDoesSecretExist_fn)(LPCWSTR account, DWORD kind, LPCWSTR store);

}  // extern "C"

// Fault injection, read only by the stand-ins: values under
// HKEY_CURRENT_USER\Software\CorvantisStandIns\<library base name>:
//   "Fail_<entry point>"  REG_DWORD  the entry point returns this HRESULT
//   "Stall_<entry point>" REG_DWORD  the entry point sleeps this many milliseconds first
// Other, stand-in specific values are documented in docs/suite-stand-ins.md.
#define CV_STANDIN_FAULT_KEY L"Software\\CorvantisStandIns"

// CVUserAuth.dll: the ID-card component, ProgID "CVUserAuth.CVIDCardInfo" (an
// in-process server). Its refresh interface's eleventh method (QueryInterface
// counted as the first) takes no argument and makes the component read the
// overall status (IDCard_SS) again.
#define CV_IDCARD_PROGID L"CVUserAuth.CVIDCardInfo"
// {1F55E9D8-BD0E-4033-8140-C8FA6AA54DB4}
inline constexpr IID IID_ICVIDCardRefresh = {0x1F55E9D8,
                                             0xBD0E,
                                             0x4033,
                                             {0x81, 0x40, 0xC8, 0xFA, 0x6A, 0xA5, 0x4D, 0xB4}};
inline constexpr int kIdCardRefreshMethod = 10;  // vtable slot, counting from 0
