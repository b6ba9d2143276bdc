#include "agent/notification_services.h"

#include "store/dashboard_storage.h"
#include "strength/recalculate.h"
#include "ui/web_link.h"

namespace agent {
namespace {

// The storage object is always the dashboard storage object these hooks made.
IDashBoardStorage* dashboard_storage(IUnknown* storage) {
  return static_cast<IDashBoardStorage*>(storage);
}

notification_services_t& services() {
  static notification_services_t installed = DefaultNotificationServices();
  return installed;
}

}  // namespace

notification_services_t DefaultNotificationServices() noexcept {
  notification_services_t hooks;
  hooks.open_storage = [](IUnknown** storage) -> HRESULT {
    IDashBoardStorage* opened = nullptr;
    const HRESULT hr = dashboard::OpenDashBoardStorage(&opened);
    *storage = opened;
    return hr;
  };
  hooks.storage_interface = &IID_IDashBoardStorage;
  hooks.refresh_manifest_list = [](HWND window) { return dashboard::RefreshManifestList(window); };
  hooks.refresh_profile_from_global = [](HWND window, IUnknown* storage) {
    return dashboard::RefreshProfileFromGlobal(window, dashboard_storage(storage));
  };
  hooks.recalculate_strength = [](HWND owner, IUnknown* storage) {
    return strength::RecalculatePasswordStrength(owner, dashboard_storage(storage));
  };
  hooks.build_web_link = [](std::uint32_t kind) { return ui::BuildWebLink(kind); };
  return hooks;
}

void SetNotificationServices(const notification_services_t& hooks) noexcept {
  services() = hooks;
}

const notification_services_t& NotificationServices() noexcept {
  return services();
}

}  // namespace agent
