#include "ui/pages/main_page.h"
#include "ui/pages/manage_tab.h"
#include "ui/pages/strength_tab.h"

namespace ui {

std::unique_ptr<CTabDialogBase> MakeTab(main_tab tab) {
  switch (tab) {
    case main_tab::manage:
      return std::make_unique<CTabManage>();
    case main_tab::strength:
      return std::make_unique<CTabPasswordStrength>();
  }
  return nullptr;
}

}  // namespace ui
