// Security of the named kernel objects that the component shares with the
// suite's other processes: a descriptor with the process token's owner and
// primary group and a DACL of four grants, and the low-integrity label that lets
// low-integrity processes (a protected-mode browser) reach the object.
#pragma once

#include <windows.h>

#include <vector>

namespace support {

// Access granted to each of the four accounts.
struct object_access_t {
  DWORD authenticated_users;  // S-1-5-11
  DWORD users;                // S-1-5-32-545
  DWORD administrators;       // S-1-5-32-544
  DWORD local_system;         // S-1-5-18
};

// A security descriptor that owns every buffer it points into.
class object_security_t {
 public:
  object_security_t() = default;
  object_security_t(const object_security_t&) = delete;
  object_security_t& operator=(const object_security_t&) = delete;

  // False when the descriptor cannot be built (the last error tells why); the
  // attributes then carry no descriptor (the default security).
  bool build(const object_access_t& access);
  SECURITY_ATTRIBUTES* attributes() noexcept { return &m_attributes; }

 private:
  SECURITY_DESCRIPTOR m_descriptor{};
  SECURITY_ATTRIBUTES m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  std::vector<BYTE> m_owner;
  std::vector<BYTE> m_group;
  std::vector<BYTE> m_sids[4];
  std::vector<BYTE> m_acl;
};

// Which step of setting the label failed, and its Win32 error.
enum class label_step_t { done, before_vista, parse, sacl, set };
struct label_result_t {
  label_step_t step;
  DWORD error;
};

// Sets the label "S:(ML;;NW;;;LW)" on a kernel object, on Windows 6.0 and later.
// Traces nothing, so the tracer's own mutex can use it; callers trace the result.
label_result_t set_low_integrity_label(HANDLE object) noexcept;

}  // namespace support
