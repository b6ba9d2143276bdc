// Every template of the folder list that loads, for the backup of template files.
#include <windows.h>

#include <utility>

#include "templates/template_folders.h"
#include "templates/template_loader.h"

namespace templates {

std::vector<manifest_t> collect_all_templates(const plugin::settings_api_t& api) {
  folder_set_t folders;
  prepfolderlist(folders, api);
  file_entry_set_t files;
  collectall(folders, files);
  std::vector<manifest_t> loaded;
  for (const auto& file : files) {
    manifest_t manifest;
    if (loadM_properly(manifest, file.load_path()))
      loaded.push_back(std::move(manifest));
  }
  return loaded;
}

std::vector<manifest_t> collect_all_templates() {
  return collect_all_templates(plugin::settings_api());
}

}  // namespace templates
