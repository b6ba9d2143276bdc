#include "agent/notification_services.h"

namespace agent {
namespace {

notification_services_t& services() {
  static notification_services_t installed;
  return installed;
}

}  // namespace

void SetNotificationServices(const notification_services_t& hooks) noexcept {
  services() = hooks;
}

const notification_services_t& NotificationServices() noexcept {
  return services();
}

}  // namespace agent
