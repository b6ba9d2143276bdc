// Figures of the logon list, as ratios against baselines measured in the same
// run, for 1,000 logons of three accounts each:
//   rows:  the row decisions (which rows, the logon's and every account's text,
//          the account keys) from loaded templates and decoded profile lists
//          against a plain pass copying the same records' names and item values;
//   add:   (Windows) AddLogonRows for every template through the fill-in
//          stand-in against loadM_properly + get_profiles of the same inputs.
// Each figure is the median of single passes. Prints; never fails.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "store/portable/profile_merge.h"
#include "templates/portable/manifest.h"
#include "templates/portable/manifest_text.h"
#include "ui/portable/logon_rows.h"

#if defined(_WIN32)
#include <windows.h>

#include "store/fillin_components.h"
#include "templates/template_loader.h"
#include "tests/support/win_test_helpers.h"
#include "ui/list/list_items.h"
#endif

namespace {

constexpr int kLogons = 1000;
constexpr int kAccounts = 3;

void ratio(const char* name, double value, double baseline, const char* base, double goal) {
  std::printf("%s: %.2f x %s (goal <= %.2f)\n", name, value / baseline, base, goal);
}

templates::manifest_t logon_template(int n) {
  templates::manifest_t manifest;
  manifest.descriptor.id = "{6F1C2A40-3B7E-4D8A-9C11-" + std::to_string(100000000000 + n) + "}";
  templates::form_t& form = manifest.forms.emplace_back();
  form.options.choosename = "Logon " + std::to_string(n);
  form.detection.web_qurl = "https://site" + std::to_string(n) + ".example/";
  const struct {
    int type;
    const char* name;
    bool password;
  } fields[] = {{templates::field_edit, "email", false},
                {templates::field_edit, "password", true},
                {templates::field_check, "remember", false},
                {templates::field_button, "", false}};
  for (const auto& f : fields) {
    templates::field_t& field = form.fields.emplace_back();
    field.type = f.type;
    field.dbname = f.name;
    field.displayname = f.name;
    field.password = f.password;
    field.useit = true;
  }
  return manifest;
}

serialization::cvprofiles_t accounts_of(int n) {
  serialization::cvprofiles_t list;
  for (int a = 0; a < kAccounts; ++a) {
    serialization::cvprofile_t& profile = list.emplace_back();
    profile.operation = 1;
    profile.profileindex = a;
    profile.profilename = L"Account " + std::to_wstring(a);
    const std::wstring values[] = {L"user" + std::to_wstring(n * kAccounts + a) + L"@example.com",
                                   L"secret-" + std::to_wstring(n), L"1"};
    const char* names[] = {"email", "password", "remember"};
    for (int i = 0; i < 3; ++i) {
      serialization::cvprofileitem_t& item = profile.items.emplace_back();
      item.dbname = names[i];
      item.displayname = templates::utf8_to_wide(names[i]);
      item.value = values[i];
    }
  }
  return list;
}

class no_references final : public serialization::reference_resolver {
 public:
  serialization::secure_wstring Resolve(std::wstring_view) override { return {}; }
};

struct row_texts_t {
  std::wstring text;
  std::string key;
};

void row_figure(const std::vector<templates::manifest_t>& manifests,
                const std::vector<serialization::cvprofiles_t>& lists) {
  std::vector<row_texts_t> rows;
  std::vector<std::wstring> copies;
  no_references resolver;
  const auto clear = [&] {
    rows.clear();
    copies.clear();
  };
  const auto [decided, plain] = bench::median_pair_ns(
      21, clear,
      [&] {
        for (std::size_t i = 0; i < manifests.size(); ++i) {
          const ui::logon_rows_t plan = ui::plan_logon_rows(manifests[i], lists[i]);
          rows.push_back({plan.logon_text, {}});
          for (const std::size_t a : plan.accounts)
            rows.push_back({ui::account_text(manifests[i], lists[i][a], resolver),
                            serialization::profile_key(lists[i][a])});
        }
      },
      [&] {
        for (const auto& list : lists)
          for (const auto& profile : list) {
            copies.push_back(profile.profilename);
            for (const auto& item : profile.items)
              copies.emplace_back(item.value.view());
          }
      });
  ratio("rows", decided, plain, "copying names and values", 3.0);
}

#if defined(_WIN32)
class list_t final : public ui::CLogonListContext {
 public:
  bool InsertRow(int position, std::unique_ptr<ui::CListItemData>& row) override {
    rows.insert(rows.begin() + position, std::move(row));
    return true;
  }
  std::vector<std::unique_ptr<ui::CListItemData>> rows;
};

void add_figure(const std::vector<templates::manifest_t>& manifests,
                const std::vector<serialization::cvprofiles_t>& lists) {
  const testsupport::scoped_component_folder_t components(testsupport::program_file(L""));
  const testsupport::scratch_folder_t folder;
  const std::string text = R"(<manifest><descriptor id="%ID%"/><forms><form>
<fcontext type="" name="0"/><detection web_qurl="https://site.example/"/>
<options choosename="Logon"/><fields>
<field type="edit" displayname="email" dbname="email" useit="1"/>
<field type="edit" displayname="password" dbname="password" password="1" useit="1"/>
<field type="check" displayname="remember" dbname="remember" useit="1"/>
<field type="button" displayname="Sign in" submit="1" useit="1"/>
</fields></form></forms></manifest>)";
  std::vector<std::wstring> paths;
  serialization::secure_wstring data;
  const fillin::CFillinComponent& fill = fillin::fillin_component();
  for (std::size_t i = 0; i < manifests.size(); ++i) {
    std::string file = text;
    file.replace(file.find("%ID%"), 4, manifests[i].descriptor.id);
    paths.push_back(folder.path() + L"logon" + std::to_wstring(i) + L".cvm");
    testsupport::write_file(paths.back(), file);
    const std::wstring id = templates::utf8_to_wide(manifests[i].descriptor.id);
    data = fill.update_profiles(id.c_str(), data.c_str(), lists[i]);
  }

  list_t list;
  std::size_t loaded = 0;
  const auto [added, baseline] = bench::median_pair_ns(
      5,
      [&] {
        list.rows.clear();
        loaded = 0;
      },
      [&] {
        for (const auto& path : paths)
          ui::AddLogonRows(path, data.c_str(), list, static_cast<int>(list.rows.size()));
      },
      [&] {
        for (const auto& path : paths) {
          templates::manifest_t manifest;
          if (templates::loadM_properly(manifest, path)) {
            const std::wstring id = templates::utf8_to_wide(manifest.descriptor.id);
            loaded += fill.get_profiles(id.c_str(), data.c_str()).size();
          }
        }
      });
  std::printf("add: %zu profiles loaded per pass\n", loaded);
  ratio("add", added, baseline, "loadM_properly + get_profiles", 1.25);
}
#endif

}  // namespace

int main() {
  std::vector<templates::manifest_t> manifests;
  std::vector<serialization::cvprofiles_t> lists;
  for (int n = 0; n < kLogons; ++n) {
    manifests.push_back(logon_template(n));
    lists.push_back(accounts_of(n));
  }
  row_figure(manifests, lists);
#if defined(_WIN32)
  add_figure(manifests, lists);
#endif
  return 0;
}
