// The element dispatch of the reader: a fixed schema tree walked with a stack;
// elements that are not in the tree at their place are skipped with all they
// contain.
#include "templates/portable/template_reader.h"

#include <expat.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "templates/portable/manifest_text.h"

static_assert(sizeof(XML_Char) == 1, "the reader expects Expat's UTF-8 interface");

namespace templates {
namespace {

struct reader_state;
using start_action = void (*)(reader_state&, const XML_Char** attributes);
using end_action = void (*)(reader_state&);

struct schema_node {
  const char* name = nullptr;
  start_action start = nullptr;
  end_action end = nullptr;
  std::vector<const schema_node*> children;
};

// Deepest path of the schema: root, manifest, options, processes, process,
// classes, class, caption.
constexpr std::size_t kSchemaDepth = 8;

struct reader_state {
  XML_Parser parser = nullptr;
  manifest_t* manifest = nullptr;
  const schema_node* stack[kSchemaDepth] = {};
  std::size_t depth = 0;
  std::size_t ignored = 0;  // depth inside a skipped element
  processrule_t* process = nullptr;
  classrule_t* klass = nullptr;
  std::exception_ptr failure;  // raised by an action; rethrown after Expat returns

  form_t* last_form() { return manifest->forms.empty() ? nullptr : &manifest->forms.back(); }
};

bool is(const char* a, const char* b) {
  return std::strcmp(a, b) == 0;
}

// --- rule flags ------------------------------------------------------------

std::uint32_t flag_bit(const char* name) {
  static const struct {
    const char* name;
    std::uint32_t bit;
  } kFlags[] = {
      {"skip", flag_skip},           {"nocom", flag_nocom},   {"noacc", flag_noacc},
      {"first", flag_first},         {"dialog", flag_dialog}, {"edit", flag_edit},
      {"protected", flag_protected}, {"button", flag_button}, {"nochildren", flag_nochildren},
      {"runtimer", flag_runtimer}};
  for (const auto& flag : kFlags) {
    if (is(name, flag.name))
      return flag.bit;
  }
  return 0;
}

// "type" of a process, class or caption: a flag name, "-name" removes it.
std::uint32_t apply_type(std::uint32_t flags, const char* value) {
  if (value[0] == '-')
    return flags & ~flag_bit(value + 1);
  if (value[0] == '+')
    ++value;
  return flags | flag_bit(value);
}

struct rule_attributes {
  const char* name = nullptr;
  std::uint32_t flags = 0;
};

rule_attributes read_rule(const XML_Char** attributes) {
  rule_attributes rule;
  for (const XML_Char** a = attributes; a[0]; a += 2) {
    if (is(a[0], "name"))
      rule.name = a[1];
    else if (is(a[0], "type"))
      rule.flags = apply_type(rule.flags, a[1]);
  }
  return rule;
}

// --- attribute tables -------------------------------------------------------

// How an attribute's value is stored.
enum class value_rule : std::uint8_t {
  text,              // unchanged
  text_if_empty,     // unchanged, unless the field already holds text
  percent,           // percent-decoded
  percent_if_empty,  // percent-decoded, unless the field already holds text
  integer,           // attribute_int
  boolean,           // attribute_bool
  keyword,           // mapped to an int by a function of its own
};

template <typename T>
struct attribute_rule {
  const char* name;
  std::size_t length;
  value_rule rule;
  std::string T::*text;
  int T::*number;
  bool T::*flag;
  int (*keyword)(const char*);
};

template <typename T>
constexpr attribute_rule<T> text(const char* name,
                                 std::string T::*member,
                                 value_rule rule = value_rule::text) {
  return {name, std::char_traits<char>::length(name), rule, member, nullptr, nullptr, nullptr};
}

template <typename T>
constexpr attribute_rule<T> integer(const char* name, int T::*member) {
  return {
      name,   std::char_traits<char>::length(name), value_rule::integer, nullptr, member, nullptr,
      nullptr};
}

template <typename T>
constexpr attribute_rule<T> boolean(const char* name, bool T::*member) {
  return {
      name,   std::char_traits<char>::length(name), value_rule::boolean, nullptr, nullptr, member,
      nullptr};
}

template <typename T>
constexpr attribute_rule<T> keyword(const char* name, int T::*member, int (*map)(const char*)) {
  return {name, std::char_traits<char>::length(name), value_rule::keyword, nullptr, member, nullptr,
          map};
}

// Stores one attribute by the rules of its element; false for a name the
// element does not know. Names are compared by length and first character
// before their bytes: most attributes are decided without a string compare.
template <typename T, std::size_t N>
bool apply_attribute(T& target,
                     const attribute_rule<T> (&rules)[N],
                     const char* name,
                     const char* value) {
  const std::size_t length = std::strlen(name);
  for (const attribute_rule<T>& r : rules) {
    if (r.length != length || r.name[0] != name[0] || std::memcmp(r.name, name, length) != 0)
      continue;
    switch (r.rule) {
      case value_rule::text_if_empty:
        if (!(target.*r.text).empty())
          break;
        [[fallthrough]];
      case value_rule::text:
        target.*r.text = value;
        break;
      case value_rule::percent_if_empty:
        if (!(target.*r.text).empty())
          break;
        [[fallthrough]];
      case value_rule::percent:
        target.*r.text = percent_decode(value);
        break;
      case value_rule::integer:
        target.*r.number = attribute_int(value);
        break;
      case value_rule::boolean:
        target.*r.flag = attribute_bool(value);
        break;
      case value_rule::keyword:
        target.*r.number = r.keyword(value);
        break;
    }
    return true;
  }
  return false;
}

int context_type_value(const char* value) {
  return value[0] == '\0' ? context_logon : is(value, "pchange") ? context_pchange : 0;
}

int submittype_value(const char* value) {
  return is(value, "dosubmit") ? submit_do : is(value, "nosubmit") ? submit_not : submit_notgiven;
}

int usequicklink_value(const char* value) {
  if (is(value, "1") || is(value, "usequicklink"))
    return quicklink_use_it;
  if (is(value, "2") || is(value, "dontusequicklink"))
    return quicklink_dont;
  return quicklink_notgiven;
}

int field_type_value(const char* value) {
  static const char* const kTypes[] = {"edit", "button", "list", "combo", "check", "radio", "text"};
  for (int i = 0; i < 7; ++i) {
    if (is(value, kTypes[i]))
      return i + 1;
  }
  return field_unknown;
}

int rfield_value(const char* value) {
  return is(value, "in") ? rfield_in : is(value, "out") ? rfield_out : rfield_none;
}

// The "_ext" forms come first in each pair: the plain form only fills an empty field.
constexpr attribute_rule<descriptor_t> kDescriptorRules[] = {
    text("id", &descriptor_t::id),
    text("created", &descriptor_t::created),
    text("modified", &descriptor_t::modified),
    text("integrity_ext", &descriptor_t::integrity),
    text("integrity", &descriptor_t::integrity, value_rule::text_if_empty),
    text("source", &descriptor_t::source),
    text("size", &descriptor_t::size),
    text("version", &descriptor_t::version),
    text("storage_id", &descriptor_t::storage_id),
};

constexpr attribute_rule<fcontext_t> kContextRules[] = {
    keyword("type", &fcontext_t::type, context_type_value),
    integer("name", &fcontext_t::index),
    integer("parent", &fcontext_t::parent),
};

constexpr attribute_rule<detection_t> kDetectionRules[] = {
    text("caption", &detection_t::caption),
    text("variablecaption", &detection_t::variablecaption),
    text("web_ourl", &detection_t::web_ourl),
    text("web_murl", &detection_t::web_murl),
    text("web_qurl", &detection_t::web_qurl),
    text("dlg_tab", &detection_t::dlg_tab),
    text("dlg_class", &detection_t::dlg_class),
    text("emu_pattern", &detection_t::emu_pattern),
    boolean("web_checkurl", &detection_t::web_checkurl),
    boolean("monitor", &detection_t::monitor),
    text("names_ext", &detection_t::names, value_rule::percent),
    text("names", &detection_t::names, value_rule::percent_if_empty),
    text("processname", &detection_t::processname, value_rule::percent),
    text("commandline", &detection_t::commandline, value_rule::percent),
};

constexpr attribute_rule<formoptions_t> kOptionRules[] = {
    text("choosename", &formoptions_t::choosename),
    text("sidekick", &formoptions_t::sidekick),
    text("ownernote", &formoptions_t::ownernote),
    text("quicklink", &formoptions_t::quicklink),
    text("iconkey", &formoptions_t::iconkey),
    text("iconlocation", &formoptions_t::iconlocation),
    integer("balooncount", &formoptions_t::balooncount),
    boolean("autoprompt", &formoptions_t::autoprompt),
    boolean("lockfields", &formoptions_t::lockfields),
    boolean("recheckwindowafterfillin", &formoptions_t::recheckwindowafterfillin),
    keyword("submittype", &formoptions_t::submittype, submittype_value),
    keyword("usequicklink", &formoptions_t::usequicklink, usequicklink_value),
};

constexpr attribute_rule<field_t> kFieldRules[] = {
    keyword("type", &field_t::type, field_type_value),
    text("displayname", &field_t::displayname),
    text("dbname", &field_t::dbname),
    text("policy", &field_t::policy),
    text("path_ext", &field_t::path),
    text("path", &field_t::path, value_rule::text_if_empty),
    text("value", &field_t::value, value_rule::percent),
    text("choosevalue", &field_t::choosevalue, value_rule::percent),
    keyword("rfield", &field_t::rfield, rfield_value),
    integer("rfieldform", &field_t::rfieldform),
    integer("rfieldindex", &field_t::rfieldindex),
    integer("accid", &field_t::accid),
    boolean("askalways", &field_t::askalways),
    boolean("onetvalue", &field_t::onetvalue),
    boolean("password", &field_t::password),
    boolean("submit", &field_t::submit),
    boolean("useit", &field_t::useit),
};

// --- start and end actions --------------------------------------------------

void on_descriptor(reader_state& s, const XML_Char** attributes) {
  for (const XML_Char** a = attributes; a[0]; a += 2)
    apply_attribute(s.manifest->descriptor, kDescriptorRules, a[0], a[1]);
}

void on_process(reader_state& s, const XML_Char** attributes) {
  const rule_attributes rule = read_rule(attributes);
  const std::wstring key = (rule.name && rule.name[0]) ? utf8_to_wide(rule.name) : L"all";
  processrule_t& process = s.manifest->processes[key];
  process.flags |= rule.flags;
  s.process = &process;
}

void end_process(reader_state& s) {
  s.process = nullptr;
}

void on_class(reader_state& s, const XML_Char** attributes) {
  s.klass = nullptr;
  const rule_attributes rule = read_rule(attributes);
  if (!s.process || !rule.name)
    return;
  classrule_t& klass = s.process->classes[utf8_to_wide(rule.name)];
  klass.flags |= rule.flags;
  s.klass = &klass;
}

void end_class(reader_state& s) {
  s.klass = nullptr;
}

void on_caption(reader_state& s, const XML_Char** attributes) {
  const rule_attributes rule = read_rule(attributes);
  if (!s.klass || !rule.name)
    return;
  s.klass->captions[utf8_to_wide(rule.name)] |= rule.flags;
}

// Room for the usual number of forms and fields up front: growing a vector of
// these large elements one by one costs more than the parse of a small template.
constexpr std::size_t kUsualForms = 2;
constexpr std::size_t kUsualFields = 8;

void on_form(reader_state& s, const XML_Char**) {
  std::vector<form_t>& forms = s.manifest->forms;
  if (forms.capacity() == 0)
    forms.reserve(kUsualForms);
  forms.emplace_back();
}

void on_fcontext(reader_state& s, const XML_Char** attributes) {
  if (form_t* form = s.last_form()) {
    for (const XML_Char** a = attributes; a[0]; a += 2)
      apply_attribute(form->context, kContextRules, a[0], a[1]);
  }
}

void on_detection(reader_state& s, const XML_Char** attributes) {
  if (form_t* form = s.last_form()) {
    for (const XML_Char** a = attributes; a[0]; a += 2)
      apply_attribute(form->detection, kDetectionRules, a[0], a[1]);
  }
}

// Options the reader does not know are kept as "name=value" lines.
void on_options(reader_state& s, const XML_Char** attributes) {
  form_t* form = s.last_form();
  if (!form)
    return;
  formoptions_t& o = form->options;
  for (const XML_Char** a = attributes; a[0]; a += 2) {
    if (apply_attribute(o, kOptionRules, a[0], a[1]))
      continue;
    if (!o.extra.empty())
      o.extra.push_back('\n');
    o.extra.append(a[0]).append("=").append(a[1]);
  }
}

void on_field(reader_state& s, const XML_Char** attributes) {
  form_t* form = s.last_form();
  if (!form)
    return;
  if (form->fields.capacity() == 0)
    form->fields.reserve(kUsualFields);
  field_t& f = form->fields.emplace_back();
  for (const XML_Char** a = attributes; a[0]; a += 2)
    apply_attribute(f, kFieldRules, a[0], a[1]);
}

// --- the schema ---------------------------------------------------------------

class schema_t {
 public:
  schema_t() {
    node(m_manifest, "manifest");
    node(m_descriptor, "descriptor", on_descriptor);
    node(m_options, "options");
    node(m_processes, "processes");
    node(m_process, "process", on_process, end_process);
    node(m_classes, "classes");
    node(m_class, "class", on_class, end_class);
    node(m_caption, "caption", on_caption);
    node(m_forms, "forms");
    node(m_form, "form", on_form);
    node(m_fcontext, "fcontext", on_fcontext);
    node(m_detection, "detection", on_detection);
    node(m_formoptions, "options", on_options);
    node(m_fields, "fields");
    node(m_field, "field", on_field);

    m_root.children = {&m_manifest};
    m_manifest.children = {&m_descriptor, &m_options, &m_forms};
    m_options.children = {&m_processes};
    m_processes.children = {&m_process};
    m_process.children = {&m_classes};
    m_classes.children = {&m_class};
    m_class.children = {&m_caption};
    m_forms.children = {&m_form};
    m_form.children = {&m_fcontext, &m_detection, &m_formoptions, &m_fields};
    m_fields.children = {&m_field};
  }

  const schema_node* root() const { return &m_root; }

 private:
  static void node(schema_node& n,
                   const char* name,
                   start_action start = nullptr,
                   end_action end = nullptr) {
    n.name = name;
    n.start = start;
    n.end = end;
  }

  schema_node m_root, m_manifest, m_descriptor, m_options, m_processes, m_process, m_classes,
      m_class, m_caption, m_forms, m_form, m_fcontext, m_detection, m_formoptions, m_fields,
      m_field;
};

const schema_t& schema() {
  static const schema_t instance;  // built on first use, kept for the process
  return instance;
}

void XMLCALL on_start_element(void* user, const XML_Char* name, const XML_Char** attributes) {
  reader_state& s = *static_cast<reader_state*>(user);
  if (s.ignored != 0) {
    ++s.ignored;
    return;
  }
  for (const schema_node* child : s.stack[s.depth - 1]->children) {
    if (!is(child->name, name))
      continue;
    s.stack[s.depth++] = child;
    if (child->start) {
      try {
        child->start(s, attributes);
      } catch (...) {
        s.failure = std::current_exception();
        XML_StopParser(s.parser, XML_FALSE);
      }
    }
    return;
  }
  s.ignored = 1;
}

void XMLCALL on_end_element(void* user, const XML_Char*) {
  reader_state& s = *static_cast<reader_state*>(user);
  if (s.ignored != 0) {
    --s.ignored;
    return;
  }
  const schema_node* node = s.stack[--s.depth];
  if (node->end)
    node->end(s);
}

struct parser_deleter {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

[[noreturn]] void raise_xml_error(XML_Parser parser) {
  std::string message = XML_ErrorString(XML_GetErrorCode(parser));
  message += " at line ";
  message += std::to_string(static_cast<long long>(XML_GetCurrentLineNumber(parser)));
  message += " [";
  message += std::to_string(static_cast<long long>(XML_GetCurrentColumnNumber(parser)));
  message += "].\n";
  throw std::runtime_error(message);
}

}  // namespace

void parse_manifest(const char* data, std::size_t size, manifest_t& manifest) {
  manifest.reset();
  std::unique_ptr<XML_ParserStruct, parser_deleter> parser(XML_ParserCreate(nullptr));
  if (!parser)
    throw std::bad_alloc();
  reader_state state;
  state.parser = parser.get();
  state.manifest = &manifest;
  state.stack[0] = schema().root();
  state.depth = 1;
  XML_SetUserData(parser.get(), &state);
  XML_SetElementHandler(parser.get(), on_start_element, on_end_element);

  // The whole document goes in one call (in INT_MAX pieces beyond that size);
  // only errors of those calls count, not of the final empty one.
  do {
    const int piece = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    const XML_Status status = XML_Parse(parser.get(), data, piece, XML_FALSE);
    if (state.failure)
      std::rethrow_exception(state.failure);
    if (status != XML_STATUS_OK)
      raise_xml_error(parser.get());
    data += piece;
    size -= static_cast<std::size_t>(piece);
  } while (size != 0);
  XML_Parse(parser.get(), nullptr, 0, XML_TRUE);
  if (state.failure)
    std::rethrow_exception(state.failure);
}

void read_manifest(const char* data, std::size_t size, manifest_t& manifest) {
  parse_manifest(data, size, manifest);
  run_passes(manifest);
  manifest.empty = false;
}

}  // namespace templates
