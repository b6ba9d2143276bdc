// cvhost: the console host. Loads the plug-in registered for a host element,
// creates its object and asks it one thing per run (the verb); see
// docs/console-host.md.
#include <windows.h>
#include <objbase.h>

#include <commctrl.h>

#include <cstdio>
#include <new>
#include <vector>

#include "com_values.h"
#include "options.h"
#include "output.h"
#include "plugin/CVOnlineIDsLib.h"
#include "plugin_module.h"
#include "verbs.h"

namespace cvhost {

namespace {

// COM for the main thread, a single-threaded apartment as the console's UI thread.
class com_apartment {
 public:
  com_apartment() {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
      throw host_error(kExitClass,
                       "cannot enter a COM apartment: " + hex(hr) + " " + hresult_text(hr));
  }
  com_apartment(const com_apartment&) = delete;
  com_apartment& operator=(const com_apartment&) = delete;
  ~com_apartment() { ::CoUninitialize(); }
};

std::wstring guid_text(REFGUID guid) {
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

int run(const options_t& options) {
  const com_apartment apartment;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  std::vector<BYTE> restore_data;
  if (options.verb == verb_t::restore)
    restore_data = read_restore_file(options.file);
  std::vector<drive::step_t> script;
  if (options.verb == verb_t::drive)
    script = read_script(options.file);

  std::wstring module_path;
  CLSID clsid = CVONLINEIDSLib::CLSID_CCVHCPages;
  if (options.plugin_path) {
    module_path = *options.plugin_path;
  } else {
    const plugin_location_t location = find_plugin(options.element);
    module_path = location.module_path;
    clsid = location.clsid;
  }
  if (!options.quiet)
    print_message("plug-in " + utf8(module_path) + " class " + utf8(guid_text(clsid)));

  // The object goes before its module.
  const CPluginModule module(module_path);
  const com_ptr<IUnknown> object = module.create_object(clsid);
  return run_verb(options, object, module.handle(), restore_data, std::move(script));
}

}  // namespace

}  // namespace cvhost

int wmain(int argc, wchar_t** argv) {
  using namespace cvhost;
  try {
    const options_t options = parse_options(argc, argv);
    if (options.help) {
      print_result(usage_text());
      return kExitOk;
    }
    // Sizes in pixels as the screen has them: pages are laid out for its DPI.
    ::SetProcessDPIAware();
    return run(options);
  } catch (const host_error& error) {
    print_message(error.message());
    return error.exit_code();
  } catch (const std::bad_alloc&) {
    print_message("out of memory");
    return kExitCallFailed;
  }
}
