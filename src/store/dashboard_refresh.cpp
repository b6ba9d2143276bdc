// Taking over a profile the agent left in the shared storage.
#include <cstdio>
#include <string>

#include "store/dashboard_storage.h"
#include "store/fillin_components.h"
#include "store/portable/profile_merge.h"
#include "support/com.h"
#include "support/hresult.h"
#include "templates/portable/caret.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_loader.h"
#include "tracing/trace.h"

namespace dashboard {
namespace {

constexpr wchar_t kDefaultProfileName[] = L"Account";

// The first template of the list whose id is `id`; its path, or empty.
std::wstring find_template(const std::wstring& id, templates::manifest_t& manifest) {
  const std::string wanted = templates::wide_to_utf8(id);
  for (const std::wstring& path : GetManifestFileList(true)) {
    if (templates::loadM_properly(manifest, path) && manifest.descriptor.id == wanted)
      return path;
  }
  return std::wstring();
}

// The name the template gives its field 0: the field's label as shown.
std::wstring field_zero_name(const templates::manifest_t& manifest) {
  for (const auto& form : manifest.forms) {
    for (const auto& field : form.fields) {
      if (field.fieldindex == 0)
        return templates::utf8_to_wide(templates::caret_decode_ext(field.displayname));
    }
  }
  return std::wstring();
}

}  // namespace

HRESULT RefreshProfileFromGlobal(HWND window, IDashBoardStorage* storage) noexcept {
  tracecore::trace_scope scope("RefreshProfileFromGlobal");
  try {
    if (storage == nullptr)
      THROW_HR(E_POINTER);
    DWORD handle = 0;
    THROW_IF_FAILED(storage->GetStorageHandle(&handle));
    const pstore::CProtectedStorage& ps = pstore::protected_storage();
    const serialization::secure_wstring text = ps.query(handle, window);

    const pstore::shared_profile_t shared = ps.read_shared_profile(handle);  // wiped when freed
    tracecore::trace_format("Manifest ID: %ls", shared.template_id.c_str());

    serialization::cvprofile_t record;
    if (!serialization::LoadProfileImage(shared.image.data(), shared.image.size(), record))
      THROW_HR(HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    record.operation = serialization::kOperationFromAgent;
    tracecore::trace_format("Profile name is %ls", record.profilename.c_str());

    templates::manifest_t manifest;
    const std::wstring path = find_template(shared.template_id, manifest);
    if (path.empty()) {
      tracecore::trace_text("Manifest file not found!");
      THROW_HR(E_UNEXPECTED);
    }
    tracecore::trace_format("Manifest file name is %ls", path.c_str());

    if (record.profilename.empty()) {
      record.profilename = field_zero_name(manifest);
      if (record.profilename.empty()) {
        record.profilename = kDefaultProfileName;
        tracecore::trace_format("empty profile name for %s", manifest.path.c_str());
      }
    }

    const fillin::CFillinComponent& fill = fillin::fillin_component();
    const serialization::cvprofiles_t merged = serialization::merge_refreshed_profile(
        fill.get_profiles(shared.template_id.c_str(), text.c_str()), record);
    if (merged.empty())
      return S_OK;
    const serialization::secure_wstring changed =
        fill.update_profiles(shared.template_id.c_str(), text.c_str(), merged);
    ps.save(handle, changed.c_str());
    // The agent's slot was emptied by reading it: without the commit the
    // profile would be lost with the session.
    ps.commit(handle);

    change_record_t change;
    change.path = path.c_str();
    change.profile = record.profilename.c_str();
    ::SendMessageW(window, kMsgPageNotify, kNotifyStorageChanged,
                   reinterpret_cast<LPARAM>(&change));
    return S_OK;
  }
  CATCH_RETURN();
}

}  // namespace dashboard
