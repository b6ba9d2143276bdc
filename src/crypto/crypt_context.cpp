#include "crypto/crypt_context.h"

#include <atomic>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/hresult.h"
#include "support/registry.h"
#include "support/unique_any.h"
#include "tracing/trace.h"

namespace crypto {
namespace {

constexpr wchar_t kMutexName[] = L"Vexor_VerifyCriptoprovider";
constexpr wchar_t kProvidersKey[] = L"Software\\Microsoft\\Cryptography\\Defaults\\Provider";

std::atomic<bool> g_provider_checked{false};
std::atomic<long> g_provider_check_runs{0};

bool acquire_verification_context(const wchar_t* provider, HCRYPTPROV& handle) {
  return ::CryptAcquireContextW(&handle, nullptr, provider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) !=
         FALSE;
}

// A registration that re-registering can fix: the provider's entry is missing
// (NTE_KEYSET_NOT_DEF) or its image does not match its signature
// (NTE_BAD_SIGNATURE).
bool registration_is_broken(DWORD error) {
  const HRESULT hr = static_cast<HRESULT>(error);
  return hr == NTE_KEYSET_NOT_DEF || hr == NTE_BAD_SIGNATURE;
}

// Runs DllRegisterServer of every registered PROV_RSA_FULL provider image.
void reregister_full_providers() {
  HKEY root = nullptr;
  const LONG opened =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProvidersKey, 0, KEY_READ | KEY_WRITE, &root);
  if (opened != ERROR_SUCCESS) {
    tracecore::trace_error("RegOpenKeyEx", HRESULT_FROM_WIN32(static_cast<DWORD>(opened)));
    return;
  }
  const support::unique_hkey providers(root);
  // The names are collected first: re-registering may add keys while we walk.
  for (const std::wstring& name : support::enum_subkey_names(providers.get())) {
    const auto provider = support::try_open_key(providers.get(), name.c_str(), KEY_READ);
    if (!provider || support::try_get_dword(provider->get(), L"Type") != DWORD{PROV_RSA_FULL})
      continue;
    const auto image = support::try_get_string(provider->get(), L"Image Path");
    if (!image)
      continue;
    const support::unique_hmodule library(
        ::LoadLibraryW(support::expand_environment(*image).c_str()));
    if (!library) {
      tracecore::trace_lasterror(L"LoadLibrary");
      continue;
    }
    using register_fn = HRESULT(STDAPICALLTYPE*)();
    const auto register_server = reinterpret_cast<register_fn>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "DllRegisterServer")));
    if (register_server == nullptr)
      continue;
    const HRESULT hr = register_server();
    if (FAILED(hr))
      tracecore::trace_error(L"DllRegisterServer", hr);
  }
}

void verify_providers() {
  for (const wchar_t* name : {kEnhancedProvider, kBaseProvider}) {
    HCRYPTPROV handle = 0;
    if (!acquire_verification_context(name, handle)) {
      const DWORD error = ::GetLastError();
      if (!registration_is_broken(error)) {
        tracecore::trace_error(L"CryptAcquireContext", static_cast<long>(error));
        continue;
      }
      reregister_full_providers();
      if (!acquire_verification_context(name, handle)) {
        tracecore::trace_lasterror(L"CryptAcquireContext");
        continue;
      }
    }
    ::CryptReleaseContext(handle, 0);
  }
}

}  // namespace

void CCryptContext::CheckProvider() {
  tracecore::trace_scope scope("CCryptContext::CheckProvider");
  tracecore::trace_text("Start...");
  const support::unique_handle mutex(::CreateMutexW(nullptr, FALSE, kMutexName));
  THROW_LAST_ERROR_IF(!mutex);
  // WAIT_ABANDONED also hands us the mutex: a crashed checker leaves nothing to undo.
  ::WaitForSingleObject(mutex.get(), INFINITE);
  const support::scope_exit release([&] { ::ReleaseMutex(mutex.get()); });
  if (!g_provider_checked.load()) {
    try {
      verify_providers();
    } catch (...) {
      // Out of memory while walking: traced; the acquisition that follows
      // reports the providers' state by itself.
      support::result_from_caught_exception();
    }
    ++g_provider_check_runs;
    g_provider_checked.store(true);
  }
  tracecore::trace_text("Finished...");
}

void CCryptContext::Acquire() {
  if (!g_provider_checked.load())
    CheckProvider();
  Release();
  HCRYPTPROV handle = 0;
  if (m_bTryEnhanced) {
    if (acquire_verification_context(kEnhancedProvider, handle)) {
      m_hProv = handle;
      return;
    }
    m_bTryEnhanced = false;
  }
  handle = 0;
  THROW_LAST_ERROR_IF(!acquire_verification_context(kBaseProvider, handle));
  m_hProv = handle;
}

void CCryptContext::Release() noexcept {
  if (m_hProv != 0) {
    const DWORD last_error = ::GetLastError();
    ::CryptReleaseContext(m_hProv, 0);
    ::SetLastError(last_error);
    m_hProv = 0;
  }
}

namespace detail {
long provider_check_runs() noexcept {
  return g_provider_check_runs.load();
}
}  // namespace detail

}  // namespace crypto
