#include "plugin/pages.h"
#include "tracing/trace.h"

namespace plugin {

CPluginPage* CreateSettingsPage() noexcept {
  tracecore::trace_text("settings page not available");
  return nullptr;
}

}  // namespace plugin
