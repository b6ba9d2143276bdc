// A protected-storage library that lacks one entry point
// (dll_function_brrfromps): the loader must keep it and refuse every call.
// The stub is never called.
#include <windows.h>

extern "C" HRESULT __cdecl pstore_missing_stub() {
  return E_NOTIMPL;
}
