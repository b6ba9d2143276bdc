// The passes that normalise a freshly parsed template, in their order.
#include <cstdint>
#include <string_view>

#include "templates/portable/caret.h"
#include "templates/portable/template_reader.h"

namespace templates {
namespace {

// 1. Caption prefixes "[m0]:2:n:" turn the rest of the caption into a
// wildcard pattern around its caret-decoded text.
void caption_rules(manifest_t& m) {
  static constexpr std::string_view kPrefixes[] = {"[m0]:2:2:", "[m0]:2:1:", "[m0]:2:3:"};
  static constexpr int kMatchTypes[] = {match_beginswith, match_endswith, match_contains};
  for (form_t& form : m.forms) {
    detection_t& d = form.detection;
    for (int i = 0; i < 3; ++i) {
      const std::string_view caption = d.caption;
      if (caption.substr(0, kPrefixes[i].size()) != kPrefixes[i])
        continue;
      d.variablecaption = caret_decode(caption.substr(kPrefixes[i].size()));
      d.matchtype = kMatchTypes[i];
      switch (d.matchtype) {
        case match_endswith:
          d.caption = "*" + d.variablecaption;
          break;
        case match_beginswith:
          d.caption = d.variablecaption + "*";
          break;
        default:
          d.caption = "*" + d.variablecaption + "*";
          break;
      }
      break;
    }
  }
}

// 2. The first form is the logon form (0), the second its password change (1).
bool normalise_context(fcontext_t& c) {
  if (c.type == context_logon || c.index == 0) {
    c = {context_logon, 0, -1};
    return true;
  }
  if (c.type == context_pchange || c.index == 1) {
    c = {context_pchange, 1, c.parent == -1 ? 0 : c.parent};
    return true;
  }
  return false;
}

void form_contexts(manifest_t& m) {
  if (!m.forms.empty() && !normalise_context(m.forms[0].context))
    m.forms[0].context = {context_logon, 0, -1};
  if (m.forms.size() > 1 && !normalise_context(m.forms[1].context))
    m.forms[1].context = {context_pchange, 1, 0};
}

// 3.
void value_kinds(manifest_t& m) {
  for (form_t& form : m.forms) {
    for (field_t& f : form.fields) {
      f.valuekind = !f.value.empty() ? value_fixed
                    : f.onetvalue    ? value_onetime
                    : f.askalways    ? value_askalways
                                     : value_stored;
    }
  }
}

// 4. and 5.
void web_addresses(manifest_t& m) {
  for (form_t& form : m.forms) {
    detection_t& d = form.detection;
    if (d.web_ourl.empty() && !d.web_murl.empty()) {
      d.web_ourl = d.web_murl;
      d.ourl_from_murl = true;
    }
  }
  for (form_t& form : m.forms)
    form.detection.web_checkurl = !form.detection.web_murl.empty();
}

// 6. Fields are numbered from the form's index shifted into the high word.
void number_fields(manifest_t& m) {
  for (form_t& form : m.forms) {
    const int index = form.context.index;
    // Shifted as unsigned: negative and large indexes wrap instead of overflowing.
    int next = static_cast<int>(static_cast<std::uint32_t>(index) << 16);
    int largest = -1;
    for (const field_t& f : form.fields) {
      if (f.fieldindex > largest)
        largest = f.fieldindex;
    }
    if (largest != -1 && static_cast<std::int64_t>(largest) + 1 > next)
      next = static_cast<int>(static_cast<std::uint32_t>(largest) + 1u);
    for (field_t& f : form.fields) {
      f.formindex = index;
      if (f.fieldindex == -1) {
        f.fieldindex = next;
        next = static_cast<int>(static_cast<std::uint32_t>(next) + 1u);
      }
    }
  }
}

form_t* form_with_index(manifest_t& m, int index) {
  for (form_t& form : m.forms) {
    if (form.context.index == index)
      return &form;
  }
  return nullptr;
}

// 7. Relations resolved before (none in a freshly read file) count on their targets.
void resolved_references(manifest_t& m) {
  for (form_t& form : m.forms) {
    for (field_t& f : form.fields) {
      if (f.rfieldpos == -1)
        continue;
      if (form_t* target_form = form_with_index(m, f.rfieldform)) {
        for (field_t& target : target_form->fields) {
          if (target.fieldindex == f.rfieldpos) {
            ++target.refcount;
            break;
          }
        }
      }
    }
  }
}

// 8. A related field names a form by index and a field by position, or the
// form's first password field.
void related_fields(manifest_t& m) {
  for (form_t& form : m.forms) {
    for (field_t& f : form.fields) {
      if (f.rfieldform == -2)
        continue;
      const bool lookup = f.rfieldindex != -1 || (f.rfield != rfield_none && f.rfieldform == -1);
      if (!lookup)
        continue;
      if (f.rfieldform == -1)
        f.rfieldform = 0;
      field_t* target = nullptr;
      if (form_t* target_form = form_with_index(m, f.rfieldform)) {
        if (f.rfieldindex >= 0 &&
            static_cast<std::size_t>(f.rfieldindex) < target_form->fields.size()) {
          target = &target_form->fields[static_cast<std::size_t>(f.rfieldindex)];
        } else {
          for (field_t& candidate : target_form->fields) {
            if (candidate.password) {
              target = &candidate;
              break;
            }
          }
        }
      }
      if (!target) {
        m.unresolved = 2;
        continue;
      }
      f.rfieldform = target->formindex;
      f.rfieldpos = target->fieldindex;
      ++target->refcount;
    }
  }
}

// 9. Without an explicit choice, forms that can be opened get a quick link.
void quicklink_choice(manifest_t& m) {
  for (form_t& form : m.forms) {
    const detection_t& d = form.detection;
    int& use = form.options.usequicklink;
    if (use != quicklink_notgiven)
      continue;
    if (!d.web_ourl.empty())
      use = d.web_qurl.empty() ? quicklink_dont : quicklink_use_it;
    else
      use = d.processname.empty() ? quicklink_dont : quicklink_use_it;
  }
}

}  // namespace

void run_passes(manifest_t& manifest) {
  caption_rules(manifest);
  form_contexts(manifest);
  value_kinds(manifest);
  web_addresses(manifest);
  number_fields(manifest);
  resolved_references(manifest);
  related_fields(manifest);
  quicklink_choice(manifest);
}

}  // namespace templates
