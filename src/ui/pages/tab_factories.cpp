#include "tracing/trace.h"
#include "ui/pages/main_page.h"

namespace ui {

std::unique_ptr<CTabDialogBase> MakeTab(main_tab tab) {
  tracecore::trace_format("tab %d not available", static_cast<int>(tab));
  return nullptr;
}

}  // namespace ui
