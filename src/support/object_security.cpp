#include "support/object_security.h"

#include <aclapi.h>
#include <sddl.h>
#include <versionhelpers.h>

#include "support/unique_any.h"

namespace support {
namespace {

bool query_token(HANDLE token, TOKEN_INFORMATION_CLASS what, std::vector<BYTE>& into) {
  DWORD size = 0;
  ::GetTokenInformation(token, what, nullptr, 0, &size);
  if (size == 0)
    return false;
  into.resize(size);
  return ::GetTokenInformation(token, what, into.data(), size, &size) != FALSE;
}

}  // namespace

bool object_security_t::build(const object_access_t& access) {
  m_attributes.lpSecurityDescriptor = nullptr;
  if (!::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION))
    return false;
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token))
    return false;
  const unique_handle token(raw_token);
  if (!query_token(token.get(), TokenOwner, m_owner) ||
      !query_token(token.get(), TokenPrimaryGroup, m_group))
    return false;
  if (!::SetSecurityDescriptorOwner(&m_descriptor,
                                    reinterpret_cast<TOKEN_OWNER*>(m_owner.data())->Owner, FALSE) ||
      !::SetSecurityDescriptorGroup(
          &m_descriptor, reinterpret_cast<TOKEN_PRIMARY_GROUP*>(m_group.data())->PrimaryGroup,
          FALSE))
    return false;

  const WELL_KNOWN_SID_TYPE kinds[4] = {WinAuthenticatedUserSid, WinBuiltinUsersSid,
                                        WinBuiltinAdministratorsSid, WinLocalSystemSid};
  const DWORD masks[4] = {access.authenticated_users, access.users, access.administrators,
                          access.local_system};
  DWORD acl_size = sizeof(ACL);
  for (int i = 0; i < 4; ++i) {
    DWORD size = SECURITY_MAX_SID_SIZE;
    m_sids[i].assign(size, 0);
    if (!::CreateWellKnownSid(kinds[i], nullptr, m_sids[i].data(), &size))
      return false;
    acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(m_sids[i].data());
  }
  m_acl.assign(acl_size, 0);
  ACL* acl = reinterpret_cast<ACL*>(m_acl.data());
  if (!::InitializeAcl(acl, acl_size, ACL_REVISION))
    return false;
  for (int i = 0; i < 4; ++i)
    if (!::AddAccessAllowedAce(acl, ACL_REVISION, masks[i], m_sids[i].data()))
      return false;
  if (!::SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE))
    return false;
  m_attributes.lpSecurityDescriptor = &m_descriptor;
  return true;
}

label_result_t set_low_integrity_label(HANDLE object) noexcept {
  if (!::IsWindowsVistaOrGreater())
    return {label_step_t::before_vista, ERROR_SUCCESS};
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;NW;;;LW)", SDDL_REVISION_1,
                                                              &raw, nullptr))
    return {label_step_t::parse, ::GetLastError()};
  const unique_local descriptor(raw);
  PACL sacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorSacl(descriptor.get(), &present, &sacl, &defaulted) || !present)
    return {label_step_t::sacl, ::GetLastError()};
  const DWORD error = ::SetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, sacl);
  if (error != ERROR_SUCCESS)
    return {label_step_t::set, error};
  return {label_step_t::done, ERROR_SUCCESS};
}

}  // namespace support
