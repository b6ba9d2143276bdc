// The property pages the plug-in hands to the console host. A page object owns
// itself once its property-sheet page exists: the sheet's release callback
// deletes it.
#pragma once

#include <windows.h>
#include <prsht.h>

namespace plugin {

class CPluginPage {
 public:
  virtual ~CPluginPage() = default;
  // The page's PROPSHEETPAGE data for CreatePropertySheetPageW.
  virtual const PROPSHEETPAGEW& SheetPage() = 0;
};

// The dashboard's main page, showing the given view first; null when it can't be made.
CPluginPage* CreateMainPage(int firstView) noexcept;
// The settings page (user console only); null when it can't be made.
CPluginPage* CreateSettingsPage() noexcept;

}  // namespace plugin
