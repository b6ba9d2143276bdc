#include "plugin/pages.h"

#include "tracing/trace.h"

namespace plugin {

// The dashboard's pages are built by the user interface; until it exists the
// host gets none and shows its other elements.
CPluginPage* CreateMainPage(int firstView) noexcept {
  tracecore::trace_format("main page not available (first view %d)", firstView);
  return nullptr;
}

}  // namespace plugin
