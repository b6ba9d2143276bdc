#include "tracing/trace.h"
#include "ui/pages/main_page.h"
#include "ui/pages/manage_tab.h"

namespace ui {

std::unique_ptr<CTabDialogBase> MakeTab(main_tab tab) {
  switch (tab) {
    case main_tab::manage:
      return std::make_unique<CTabManage>();
    case main_tab::strength:
      break;
  }
  tracecore::trace_format("tab %d not available", static_cast<int>(tab));
  return nullptr;
}

}  // namespace ui
