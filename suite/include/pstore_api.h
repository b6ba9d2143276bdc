// The protected storage of the suite, "CvoPS.dll": its entry points as the
// component calls them and the stand-in under suite/CvoPS implements them, and
// the fixed identifiers under which the component and the resident agent hand
// profiles to each other through its shared storage.
//
// Every entry point is __stdcall, exported undecorated and returns an HRESULT.
// Strings are UTF-16. Every buffer an entry point returns is COM task memory
// (CoTaskMemAlloc) that the caller frees with CoTaskMemFree; buffers that may
// hold secrets (profile text, reference values, shared profile images) are
// overwritten with zeros by the caller before it frees them.
#pragma once

#include <windows.h>

// The request identifier under which the component leaves a fill-in request for
// the agent (CVOPSWriteProfileToSharedStorageEx): a GUID in registry form, 38
// characters, upper-case digits.
#define CVOPS_REQUEST_ID L"{595136B5-2AB8-4ABA-9D78-E3EA8CB02090}"

// The profile identifier of the profile image exchanged with the agent, passed
// as its 16 bytes: {46CFB396-623D-4E4F-B3FA-0F69E618F4F5}.
inline constexpr GUID CVOPS_PROFILE_GUID = {0x46cfb396,
                                            0x623d,
                                            0x4e4f,
                                            {0xb3, 0xfa, 0x0f, 0x69, 0xe6, 0x18, 0xf4, 0xf5}};

// CVOPSInit / CVOPSInitWithData: the first argument is the version of these
// calls, the third the access the session asks for.
#define CVOPS_VERSION 1
#define CVOPS_ACCESS_READ 0
#define CVOPS_ACCESS_READWRITE 1
// CVOPSTerm: what happens to changes the session staged and did not commit.
#define CVOPS_TERM_DISCARD 0
#define CVOPS_TERM_COMMIT 1
// CVOPSEndTransaction: commit the staged changes, or drop them.
#define CVOPS_END_ROLLBACK 0
#define CVOPS_END_COMMIT 1

extern "C" {

// Sessions. The handle is a 32-bit value that names the session in the calling
// process; it stays valid until CVOPSTerm.
typedef HRESULT(WINAPI* CVOPSInit_fn)(DWORD version, DWORD* handle, DWORD access);
// A session on a named store of the calling user instead of the default one.
typedef HRESULT(WINAPI* CVOPSInitWithData_fn)(DWORD version,
                                              DWORD* handle,
                                              DWORD access,
                                              LPCWSTR store);
typedef HRESULT(WINAPI* CVOPSTerm_fn)(DWORD handle, DWORD flags);

// The profile text: the session's staged text when it saved one, else the
// committed text (empty when nothing was ever committed). The owner window is
// the parent of any prompt the storage shows.
typedef HRESULT(WINAPI* CVOPSQuery_fn)(DWORD handle, HWND owner, LPWSTR* text);
// Stages a new profile text; CVOPSCommit makes it durable.
typedef HRESULT(WINAPI* CVOPSSave_fn)(DWORD handle, LPCWSTR text);
typedef HRESULT(WINAPI* CVOPSCommit_fn)(DWORD handle);

// References: named secret values kept beside the profile text. The names come
// back as a list of zero-terminated strings ended by one more zero.
typedef HRESULT(WINAPI* CVOPSGetReferenceNames_fn)(DWORD handle, LPWSTR* names);
typedef HRESULT(WINAPI* CVOPSGetReference_fn)(DWORD handle, LPCWSTR name, LPWSTR* value);
// "DOMAIN\user" of the store's owner.
typedef HRESULT(WINAPI* CVOPSGetUserName_fn)(DWORD handle, LPWSTR* name);

// A transaction holds the store for the calling thread from Begin to End, so
// that a read, change and commit of the profile text is not interleaved with
// another session's commit. Begin and End are called on the same thread.
typedef HRESULT(WINAPI* CVOPSBeginTransaction_fn)(DWORD handle);
typedef HRESULT(WINAPI* CVOPSEndTransaction_fn)(DWORD handle, DWORD how);

// Shared storage: slots keyed by a request identifier (empty for the calls
// without "Ex") and a profile GUID, each holding a template identifier and a
// profile image. A write replaces the slot; a read takes it out.
typedef HRESULT(WINAPI* CVOPSWriteProfileToSharedStorage_fn)(DWORD handle,
                                                             const GUID* profile,
                                                             LPCWSTR template_id,
                                                             DWORD size,
                                                             const BYTE* bytes);
typedef HRESULT(WINAPI* CVOPSReadProfileFromSharedStorage_fn)(DWORD handle,
                                                              const GUID* profile,
                                                              LPWSTR* template_id,
                                                              DWORD* size,
                                                              BYTE** bytes);
typedef HRESULT(WINAPI* CVOPSWriteProfileToSharedStorageEx_fn)(DWORD handle,
                                                               LPCWSTR request,
                                                               const GUID* profile,
                                                               LPCWSTR template_id,
                                                               DWORD size,
                                                               const BYTE* bytes);
typedef HRESULT(WINAPI* CVOPSReadProfileFromSharedStorageEx_fn)(DWORD handle,
                                                                LPCWSTR request,
                                                                const GUID* profile,
                                                                LPWSTR* template_id,
                                                                DWORD* size,
                                                                BYTE** bytes);

// Asks the user whether stored secrets may be shown: S_OK yes, S_FALSE no.
typedef HRESULT(WINAPI* dll_function_brrfromps_fn)(HWND owner);

// Not one of the component's calls: the suite's other parts (and tests) store
// a reference with it. A null value removes the reference. Staged like a save.
typedef HRESULT(WINAPI* CVOPSSetReference_fn)(DWORD handle, LPCWSTR name, LPCWSTR value);

}  // extern "C"
