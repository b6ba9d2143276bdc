// A CryptoAPI provider context for hashing and random numbers:
//
//   CCryptContext context;
//   context.Acquire();   // enhanced provider, else the base provider
//   ::CryptGenRandom(context.Get(), 8, iv);
//
// The first acquisition in a process runs CheckProvider, which verifies the two
// providers' registration and repairs it by re-registering the registered
// PROV_RSA_FULL providers when one of them is broken.
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace crypto {

inline constexpr wchar_t kEnhancedProvider[] = L"Microsoft Enhanced Cryptographic Provider v1.0";
inline constexpr wchar_t kBaseProvider[] = L"Microsoft Base Cryptographic Provider v1.0";

class CCryptContext {
 public:
  CCryptContext() noexcept = default;
  CCryptContext(const CCryptContext&) = delete;
  CCryptContext& operator=(const CCryptContext&) = delete;
  virtual ~CCryptContext() { Release(); }

  // Verifies, and if needed repairs, the providers' registration; the work is
  // done once per process, serialised across processes by a named mutex.
  // Throws when the mutex cannot be created.
  static void CheckProvider();

  // A verification context (PROV_RSA_FULL, no key container) of the enhanced
  // provider when this object still tries it and it can be acquired, otherwise
  // of the base provider. Throws the acquisition's error.
  void Acquire();
  void Release() noexcept;
  HCRYPTPROV Get() const noexcept { return m_hProv; }
  bool TriesEnhanced() const noexcept { return m_bTryEnhanced; }

 private:
  HCRYPTPROV m_hProv = 0;
  bool m_bTryEnhanced = true;
};

namespace detail {
// How often the provider check has done its work in this process (0 or 1).
long provider_check_runs() noexcept;
}  // namespace detail

}  // namespace crypto
