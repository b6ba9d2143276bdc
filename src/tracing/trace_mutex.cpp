#include "tracing/trace_mutex.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace tracecore {
namespace {

// A security descriptor with the process token's owner and group and a DACL
// granting GENERIC_ALL to Authenticated Users, LocalSystem, Administrators
// and Users. Owns every buffer it points into.
class mutex_security_t {
 public:
  bool build() {
    if (!::InitializeSecurityDescriptor(&m_sd, SECURITY_DESCRIPTOR_REVISION))
      return false;
    HANDLE raw_token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
      support::unique_handle token(raw_token);
      if (query(token.get(), TokenOwner, m_owner))
        ::SetSecurityDescriptorOwner(&m_sd, reinterpret_cast<TOKEN_OWNER*>(m_owner.data())->Owner,
                                     FALSE);
      if (query(token.get(), TokenPrimaryGroup, m_group))
        ::SetSecurityDescriptorGroup(
            &m_sd, reinterpret_cast<TOKEN_PRIMARY_GROUP*>(m_group.data())->PrimaryGroup, FALSE);
    }
    const WELL_KNOWN_SID_TYPE kinds[] = {WinAuthenticatedUserSid, WinLocalSystemSid,
                                         WinBuiltinAdministratorsSid, WinBuiltinUsersSid};
    DWORD acl_size = sizeof(ACL);
    for (int i = 0; i < 4; ++i) {
      DWORD size = SECURITY_MAX_SID_SIZE;
      m_sids[i].resize(size);
      if (!::CreateWellKnownSid(kinds[i], nullptr, m_sids[i].data(), &size))
        return false;
      acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(m_sids[i].data());
    }
    m_acl.resize(acl_size);
    ACL* acl = reinterpret_cast<ACL*>(m_acl.data());
    if (!::InitializeAcl(acl, acl_size, ACL_REVISION))
      return false;
    for (auto& sid : m_sids)
      if (!::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid.data()))
        return false;
    return ::SetSecurityDescriptorDacl(&m_sd, TRUE, acl, FALSE) != FALSE;
  }
  SECURITY_DESCRIPTOR* get() { return &m_sd; }

 private:
  static bool query(HANDLE token, TOKEN_INFORMATION_CLASS what, std::vector<BYTE>& into) {
    DWORD size = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &size);
    if (size == 0)
      return false;
    into.resize(size);
    return ::GetTokenInformation(token, what, into.data(), size, &size) != FALSE;
  }

  SECURITY_DESCRIPTOR m_sd{};
  std::vector<BYTE> m_owner;
  std::vector<BYTE> m_group;
  std::vector<BYTE> m_sids[4];
  std::vector<BYTE> m_acl;
};

}  // namespace

support::unique_handle create_trace_mutex() {
  wchar_t name[64];
  std::swprintf(name, 64, L"Global\\%ls_%04X", L"CVMAX_tracemutex",
                static_cast<unsigned>(::GetCurrentProcessId()));
  mutex_security_t security;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  if (security.build())
    attributes.lpSecurityDescriptor = security.get();
  const DWORD last_error = ::GetLastError();
  HANDLE mutex = ::CreateMutexW(&attributes, FALSE, name);
  if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED)
    mutex = ::OpenMutexW(GENERIC_READ, FALSE, name);
  ::SetLastError(last_error);
  return support::unique_handle(mutex);
}

}  // namespace tracecore
