// cvload: loads a component DLL the way a host does, calls its exported entry
// points and unloads it again; prints what each call returned.
//   cvload PATH_TO_DLL
#include <windows.h>
#include <objbase.h>

#include <cstdio>

namespace {

void report(const char* call, HRESULT hr) {
  std::printf("%-22s 0x%08lX\n", call, static_cast<unsigned long>(hr));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cvload PATH_TO_DLL\n");
    return 2;
  }
  HMODULE dll = ::LoadLibraryW(argv[1]);
  if (dll == nullptr) {
    std::fprintf(stderr, "cvload: cannot load %ls (error %lu)\n", argv[1],
                 static_cast<unsigned long>(::GetLastError()));
    return 1;
  }
  std::printf("loaded %ls\n", argv[1]);
  using get_class_fn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  using register_fn = HRESULT(WINAPI*)();
  auto lookup = [dll](const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(dll, name));
  };
  if (const auto get_class = reinterpret_cast<get_class_fn>(lookup("DllGetClassObject"))) {
    void* factory = nullptr;
    report("DllGetClassObject", get_class(CLSID_NULL, IID_IClassFactory, &factory));
    if (factory)
      static_cast<IUnknown*>(factory)->Release();
  } else {
    std::printf("DllGetClassObject      not exported\n");
  }
  if (const auto fn = reinterpret_cast<register_fn>(lookup("DllRegisterServer")))
    report("DllRegisterServer", fn());
  ::FreeLibrary(dll);
  std::printf("unloaded\n");
  return 0;
}
