// Helpers of the dashboard-storage and rating tests: logon templates of a
// scratch folder, stored profiles, and a window that counts what the pages
// would be told.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "store/dashboard_storage.h"
#include "store/fillin_components.h"
#include "store/portable/profile_records.h"
#include "store/protected_storage.h"
#include "templates/portable/manifest_text.h"
#include "tests/support/win_test_helpers.h"

namespace strengthtest {

// A web logon template: a user-name field (field 0, label `user_label`), the
// password field and a button.
inline std::wstring write_template(const std::wstring& folder,
                                   const std::string& id,
                                   const std::string& name,
                                   const std::string& user_label = "User name") {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest>\n"
      "<descriptor id=\"" +
      id +
      "\" version=\"1\"/>\n<forms><form>"
      "<fcontext type=\"\" name=\"0\"/>"
      "<detection web_murl=\"https://" +
      name + ".example/\" web_qurl=\"https://" + name + ".example/\"/><options choosename=\"" +
      name +
      "\"/><fields>"
      "<field type=\"edit\" displayname=\"" +
      user_label +
      "\" dbname=\"username\"/>"
      "<field type=\"edit\" displayname=\"Password\" dbname=\"password\" password=\"1\"/>"
      "<field type=\"button\" displayname=\"Go\" dbname=\"go\" submit=\"1\"/>"
      "</fields></form></forms>\n</manifest>\n";
  const std::wstring path = folder + templates::utf8_to_wide(name) + L".cvm";
  testsupport::write_file(path, xml);
  return path;
}

inline serialization::cvprofile_t account(int index,
                                          const std::wstring& name,
                                          const std::wstring& user,
                                          const std::wstring& password,
                                          const std::string& date = "") {
  serialization::cvprofile_t r;
  r.operation = 1;
  r.profileindex = index;
  r.profilename = name;
  r.updatedate = date;
  for (auto [db, value] : {std::pair{"username", user}, std::pair{"password", password}}) {
    serialization::cvprofileitem_t& item = r.items.emplace_back();
    item.value_op = 1;
    item.dbname = db;
    item.value = value;
  }
  return r;
}

// The user's stored profile text, and replacing one template's profiles in it.
inline serialization::secure_wstring stored_text() {
  const pstore::CProtectedStorage& ps = pstore::protected_storage();
  const pstore::handle_t h = ps.init();
  auto text = ps.query(h, nullptr);
  ps.term(h);
  return text;
}

inline void store_profiles(const std::wstring& template_id,
                           const serialization::cvprofiles_t& list) {
  const pstore::CProtectedStorage& ps = pstore::protected_storage();
  const pstore::handle_t h = ps.init();
  const auto text = ps.query(h, nullptr);
  const auto changed =
      fillin::fillin_component().update_profiles(template_id.c_str(), text.c_str(), list);
  ps.save(h, changed.c_str());
  ps.commit(h);
  ps.term(h);
}

// A hidden window that records every WM_USER + 108 it is sent, with the change
// record's texts (one such window at a time).
struct notice_t {
  WPARAM code;
  DWORD size;
  std::wstring path;
  std::wstring profile;
};
inline std::vector<notice_t> g_notices;

inline LRESULT CALLBACK page_window_procedure(HWND window,
                                              UINT message,
                                              WPARAM wparam,
                                              LPARAM lparam) {
  if (message != dashboard::kMsgPageNotify)
    return ::DefWindowProcW(window, message, wparam, lparam);
  const auto* change = reinterpret_cast<const dashboard::change_record_t*>(lparam);
  g_notices.push_back({wparam, change->cbSize, change->path ? change->path : L"",
                       change->profile ? change->profile : L""});
  return 0;
}

class page_window_t {
 public:
  page_window_t() {
    g_notices.clear();
    WNDCLASSW wc{};
    wc.lpfnWndProc = page_window_procedure;
    wc.lpszClassName = L"CvTestPageWindow";
    ::RegisterClassW(&wc);
    m_window = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, nullptr);
  }
  ~page_window_t() { ::DestroyWindow(m_window); }
  HWND get() const { return m_window; }

 private:
  HWND m_window = nullptr;
};

}  // namespace strengthtest
