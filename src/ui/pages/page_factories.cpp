#include <new>

#include "plugin/pages.h"
#include "tracing/trace.h"
#include "ui/pages/main_page.h"

namespace plugin {

CPluginPage* CreateMainPage(int firstView) noexcept {
  try {
    return new ui::CMainPage(firstView);
  } catch (const std::bad_alloc&) {
    tracecore::trace_error("CreateMainPage", E_OUTOFMEMORY);
    return nullptr;
  }
}

}  // namespace plugin
