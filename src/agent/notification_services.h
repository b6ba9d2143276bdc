// What the notification window asks of other parts of the component: the
// dashboard storage object and its two refreshes, the password-strength
// recalculation and the web-link builder, as replaceable hooks. The defaults
// are the dashboard storage, rating and help parts. The window traces "not
// available" for a hook that is not installed and carries on as if the call
// had failed.
//
//   agent::notification_services_t services = agent::NotificationServices();
//   services.build_web_link = &build_web_link;
//   agent::SetNotificationServices(services);
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>
#include <string>

namespace agent {

struct notification_services_t {
  // Opens the protected storage and creates the dashboard storage object (one
  // reference, the caller's).
  HRESULT (*open_storage)(IUnknown** storage) = nullptr;
  // The interface placed into the block of a storage request.
  const IID* storage_interface = nullptr;
  // Re-reads the template list; tells window when it changed.
  bool (*refresh_manifest_list)(HWND window) = nullptr;
  // Takes over the profile the agent left in the shared storage for window;
  // 0x80070002 when there is none.
  HRESULT (*refresh_profile_from_global)(HWND window, IUnknown* storage) = nullptr;
  // Starts the recalculation of the password ratings (returns at once).
  HRESULT (*recalculate_strength)(HWND owner, IUnknown* storage) = nullptr;
  // The web link of a link kind; empty when there is none.
  std::wstring (*build_web_link)(std::uint32_t kind) = nullptr;
};

// The hooks of the component's own parts.
notification_services_t DefaultNotificationServices() noexcept;

// Replaces the hooks (call before the notification window exists).
void SetNotificationServices(const notification_services_t& services) noexcept;
const notification_services_t& NotificationServices() noexcept;

}  // namespace agent
