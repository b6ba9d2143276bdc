// Fuzzes the template reader with arbitrary bytes: every input either reads
// into a template that satisfies the passes' guarantees or fails with the XML
// error message; the value decoders never grow their input.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "templates/portable/caret.h"
#include "templates/portable/manifest_text.h"
#include "templates/portable/template_reader.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using fuzzcheck::check;

void check_template(const templates::manifest_t& m) {
  check(!m.empty);
  check(m.unresolved == 0 || m.unresolved == 2);
  for (std::size_t i = 0; i < m.forms.size(); ++i) {
    const templates::form_t& form = m.forms[i];
    if (i == 0)
      check(form.context.type == 1 ? form.context.index == 0 : form.context.index == 1);
    if (i == 1)
      check(form.context.index == 0 || form.context.index == 1);
    check(form.options.usequicklink != 0);
    check(form.detection.web_checkurl == !form.detection.web_murl.empty());
    check(form.detection.matchtype >= 0 && form.detection.matchtype <= 3);
    for (std::size_t k = 0; k < form.fields.size(); ++k) {
      const templates::field_t& f = form.fields[k];
      check(f.formindex == form.context.index);
      // Consecutive numbers from the form's index in the high word.
      check(static_cast<std::uint32_t>(f.fieldindex) ==
            static_cast<std::uint32_t>((static_cast<std::uint32_t>(form.context.index) << 16) + k));
      check(f.valuekind >= 0 && f.valuekind <= 3);
    }
  }
  const templates::manifest_t copy = m;
  check(copy == m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  templates::manifest_t m;
  try {
    templates::read_manifest(text, size, m);
    check_template(m);
    // Running the passes again over their own result keeps every guarantee.
    templates::run_passes(m);
    check_template(m);
  } catch (const std::runtime_error& e) {
    const std::string_view message = e.what();
    check(message.size() > 4 && message.substr(message.size() - 3) == "].\n");
    check(message.find(" at line ") != std::string_view::npos);
  }

  const std::string_view view(text, size);
  check(templates::percent_decode(view).size() <= size);
  check(templates::caret_decode(view).size() <= size);
  check(templates::caret_decode_ext(view).size() <= size);
  const std::wstring wide = templates::utf8_to_wide(view);
  check(wide.size() <= size);
  const std::string utf8 = templates::wide_to_utf8(wide);
  check(templates::utf8_to_wide(utf8) == wide);  // stable after one round
  return 0;
}
