// Security of the named objects the component creates for the agent channel
// (support/object_security.h), with the grants of each kind of object and the
// traced form of the low-integrity label.
#pragma once

#include <windows.h>

#include "support/object_security.h"

namespace agent {

using ipc_access_t = support::object_access_t;
using ipc_security_t = support::object_security_t;

// The channel mutex: synchronise and query for users, everything for the others.
inline constexpr ipc_access_t kMutexAccess{0x120001, 0x120001, 0x1F0001, 0x1F0001};
// The payload mapping: map for reading and writing; everything for the others.
inline constexpr ipc_access_t kPayloadAccess{0x6, 0x6, 0xF001F, 0xF001F};

// The label "S:(ML;;NW;;;LW)" set on a kernel object, on Windows 6.0 and
// later (nothing happens before). Failures are traced ("SACL 1", "SACL 2",
// "set SACL failed 0x%x") and otherwise ignored: the object stays usable for
// processes of medium integrity. True when the label was set.
bool apply_low_integrity_label(HANDLE object) noexcept;

}  // namespace agent
