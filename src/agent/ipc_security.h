// Security of the named objects the component creates for the agent channel:
// a descriptor with the process token's owner and primary group and a DACL of
// four grants, and the low-integrity label that lets low-integrity processes
// (a protected-mode browser) reach the object.
#pragma once

#include <windows.h>

#include <vector>

namespace agent {

// Access granted to each of the four accounts.
struct ipc_access_t {
  DWORD authenticated_users;  // S-1-5-11
  DWORD users;                // S-1-5-32-545
  DWORD administrators;       // S-1-5-32-544
  DWORD local_system;         // S-1-5-18
};

// The channel mutex: synchronise and query for users, everything for the others.
inline constexpr ipc_access_t kMutexAccess{0x120001, 0x120001, 0x1F0001, 0x1F0001};
// The payload mapping: map for reading and writing; everything for the others.
inline constexpr ipc_access_t kPayloadAccess{0x6, 0x6, 0xF001F, 0xF001F};

// A security descriptor that owns every buffer it points into.
class ipc_security_t {
 public:
  ipc_security_t() = default;
  ipc_security_t(const ipc_security_t&) = delete;
  ipc_security_t& operator=(const ipc_security_t&) = delete;

  // False when the descriptor cannot be built (the last error tells why).
  bool build(const ipc_access_t& access);
  SECURITY_ATTRIBUTES* attributes() noexcept { return &m_attributes; }

 private:
  SECURITY_DESCRIPTOR m_descriptor{};
  SECURITY_ATTRIBUTES m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  std::vector<BYTE> m_owner;
  std::vector<BYTE> m_group;
  std::vector<BYTE> m_sids[4];
  std::vector<BYTE> m_acl;
};

// The label "S:(ML;;NW;;;LW)" set on a kernel object, on Windows 6.0 and
// later (nothing happens before). Failures are traced ("SACL 1", "SACL 2",
// "set SACL failed 0x%x") and otherwise ignored: the object stays usable for
// processes of medium integrity. True when the label was set.
bool apply_low_integrity_label(HANDLE object) noexcept;

}  // namespace agent
