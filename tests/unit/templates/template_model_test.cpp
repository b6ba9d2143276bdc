// Attribute rules and normalisation passes of the template reader, fed with
// small documents. Attribute rules are checked on the parse alone
// (parse_manifest), pass rules on the whole read (read_manifest).
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "templates/portable/template_reader.h"

namespace templates {
namespace {

manifest_t parse(const std::string& xml) {
  manifest_t m;
  parse_manifest(xml.data(), xml.size(), m);
  return m;
}

manifest_t read(const std::string& xml) {
  manifest_t m;
  read_manifest(xml.data(), xml.size(), m);
  return m;
}

std::string forms(const std::string& inner) {
  return "<manifest><forms>" + inner + "</forms></manifest>";
}

// One form with one element below it.
std::string form_with(const std::string& element) {
  return forms("<form>" + element + "</form>");
}

std::string field_with(const std::string& attributes) {
  return form_with("<fields><field " + attributes + "/></fields>");
}

const field_t& only_field(const manifest_t& m) {
  return m.forms.at(0).fields.at(0);
}

// The form of a document with one form that holds the elements given.
form_t parsed_form(const std::string& elements) {
  return parse(form_with(elements)).forms.at(0);
}

form_t read_form(const std::string& elements) {
  return read(form_with(elements)).forms.at(0);
}

TEST(TemplateAttributes, BooleansAreTrueOnlyForExactlyOne) {
  const struct {
    const char* value;
    bool expected;
  } values[] = {{"1", true},  {"true", false}, {"1 ", false}, {" 1", false},
                {"0", false}, {"", false},     {"01", false}, {"yes", false}};
  for (const auto& v : values) {
    const std::string a = std::string("\"") + v.value + "\"";
    const field_t f = only_field(parse(field_with(
        "askalways=" + a + " onetvalue=" + a + " password=" + a + " submit=" + a + " useit=" + a)));
    EXPECT_EQ(f.askalways, v.expected) << v.value;
    EXPECT_EQ(f.onetvalue, v.expected) << v.value;
    EXPECT_EQ(f.password, v.expected) << v.value;
    EXPECT_EQ(f.submit, v.expected) << v.value;
    EXPECT_EQ(f.useit, v.expected) << v.value;
    const form_t form = parsed_form("<detection monitor=" + a + " web_checkurl=" + a +
                                    "/><options autoprompt=" + a + " lockfields=" + a +
                                    " recheckwindowafterfillin=" + a + "/>");
    EXPECT_EQ(form.detection.monitor, v.expected) << v.value;
    EXPECT_EQ(form.detection.web_checkurl, v.expected) << v.value;
    EXPECT_EQ(form.options.autoprompt, v.expected) << v.value;
    EXPECT_EQ(form.options.lockfields, v.expected) << v.value;
    EXPECT_EQ(form.options.recheckwindowafterfillin, v.expected) << v.value;
  }
}

TEST(TemplateAttributes, Integers) {
  const field_t f =
      only_field(parse(field_with(R"(accid="" rfieldform=" -3x" rfieldindex="+12")")));
  EXPECT_EQ(f.accid, 0);  // an empty value gives 0, not the default -1
  EXPECT_EQ(f.rfieldform, -3);
  EXPECT_EQ(f.rfieldindex, 12);
  const form_t form =
      parsed_form(R"(<fcontext name="4" parent="abc"/><options balooncount="10"/>)");
  EXPECT_EQ(form.context.index, 4);
  EXPECT_EQ(form.context.parent, 0);
  EXPECT_EQ(form.options.balooncount, 10);
  EXPECT_EQ(parsed_form("").options.balooncount, 3);
}

TEST(TemplateAttributes, ExtendedFormWinsWhateverTheOrder) {
  const struct {
    const char* attributes;
    const char* expected;
  } cases[] = {
      {R"(X_ext="ext" X="plain")", "ext"}, {R"(X="plain" X_ext="ext")", "ext"},
      {R"(X="plain")", "plain"},           {R"(X_ext="ext")", "ext"},
      {R"(X_ext="" X="plain")", "plain"},  // an empty extended value does not block
      {R"(X="plain" X_ext="")", ""},       // but it does overwrite
  };
  for (const auto& c : cases) {
    std::string attributes = c.attributes;
    const auto with = [&](const std::string& name) {
      std::string text = attributes;
      for (std::size_t at; (at = text.find('X')) != std::string::npos;)
        text.replace(at, 1, name);
      return text;
    };
    EXPECT_EQ(only_field(parse(field_with(with("path")))).path, c.expected) << c.attributes;
    EXPECT_EQ(parsed_form("<detection " + with("names") + "/>").detection.names, c.expected)
        << c.attributes;
    EXPECT_EQ(
        parse("<manifest><descriptor " + with("integrity") + "/></manifest>").descriptor.integrity,
        c.expected)
        << c.attributes;
  }
}

TEST(TemplateAttributes, Keywords) {
  const std::map<std::string, int> context_types = {
      {"", context_logon}, {"pchange", context_pchange}, {"PCHANGE", 0}, {"logon", 0}};
  for (const auto& [value, expected] : context_types)
    EXPECT_EQ(parsed_form("<fcontext type='" + value + "'/>").context.type, expected) << value;
  const std::map<std::string, int> submit_types = {
      {"dosubmit", submit_do}, {"nosubmit", submit_not}, {"submit", submit_notgiven}};
  for (const auto& [value, expected] : submit_types)
    EXPECT_EQ(parsed_form("<options submittype='" + value + "'/>").options.submittype, expected)
        << value;
  const std::map<std::string, int> quicklink_uses = {
      {"1", quicklink_use_it},   {"usequicklink", quicklink_use_it},
      {"2", quicklink_dont},     {"dontusequicklink", quicklink_dont},
      {"3", quicklink_notgiven}, {"yes", quicklink_notgiven}};
  for (const auto& [value, expected] : quicklink_uses)
    EXPECT_EQ(parsed_form("<options usequicklink='" + value + "'/>").options.usequicklink, expected)
        << value;
  const std::map<std::string, int> field_types = {
      {"edit", field_edit},   {"button", field_button}, {"list", field_list},
      {"combo", field_combo}, {"check", field_check},   {"radio", field_radio},
      {"text", field_text},   {"Edit", field_unknown},  {"password", field_unknown}};
  for (const auto& [value, expected] : field_types)
    EXPECT_EQ(only_field(parse(field_with("type='" + value + "'"))).type, expected) << value;
  const std::map<std::string, int> related = {
      {"in", rfield_in}, {"out", rfield_out}, {"inout", rfield_none}};
  for (const auto& [value, expected] : related)
    EXPECT_EQ(only_field(parse(field_with("rfield='" + value + "'"))).rfield, expected) << value;
}

TEST(TemplateAttributes, PercentDecodingOnlyOnTheNamedAttributes) {
  const form_t form = parsed_form(R"(<detection caption="c%0a" web_murl="m%0a" names="n%0a" )"
                                  R"(processname="p%0a" commandline="l%0a" emu_pattern="e%0a"/>)"
                                  R"(<fields><field displayname="d%0a" path="x%0a" value="v%0a" )"
                                  R"(choosevalue="o%0a" dbname="b%0a" policy="y%0a"/></fields>)");
  EXPECT_EQ(form.detection.names, "n\n");
  EXPECT_EQ(form.detection.processname, "p\n");
  EXPECT_EQ(form.detection.commandline, "l\n");
  EXPECT_EQ(form.fields[0].value, "v\n");
  EXPECT_EQ(form.fields[0].choosevalue, "o\n");
  for (const std::string& unchanged :
       {form.detection.caption, form.detection.web_murl, form.detection.emu_pattern,
        form.fields[0].displayname, form.fields[0].path, form.fields[0].dbname,
        form.fields[0].policy})
    EXPECT_EQ(unchanged.substr(1), "%0a");
}

TEST(TemplateAttributes, UnknownOptionsAreKeptAsLines) {
  EXPECT_EQ(parsed_form(R"(<options foo="bar" choosename="n" x="" eq="a=b"/>)").options.extra,
            "foo=bar\nx=\neq=a=b");
  // A second options element appends to the same text; names are case-sensitive.
  EXPECT_EQ(parsed_form(R"(<options foo="bar"/><options ChooseName="n"/>)").options.extra,
            "foo=bar\nChooseName=n");
  // Elsewhere unknown attributes are ignored.
  const manifest_t m = parse(R"(<manifest><descriptor id="a" foo="bar"/></manifest>)");
  descriptor_t expected;
  expected.id = "a";
  EXPECT_EQ(m.descriptor, expected);
}

TEST(TemplateAttributes, ProcessClassAndCaptionRules) {
  const manifest_t m = parse(R"(<manifest><options><processes>
      <process name="app.exe" type="dialog"><classes>
        <class name="Edit" type="+edit"><caption name="Log on" type="first"/>
          <caption name="Log on" type="protected"/><caption type="skip"/></class>
        <class type="button"/>
        <class name="Btn" type="bogus"/>
      </classes></process>
      <process name="app.exe" type="runtimer"/>
      <process type="nocom"/>
      <process name="" type="noacc"><classes><class name="X" type="-nochildren"/></classes></process>
      <process name="other.exe" type="-skip"/>
    </processes></options></manifest>)");
  ASSERT_EQ(m.processes.size(), 3u);
  const processrule_t& app = m.processes.at(L"app.exe");
  EXPECT_EQ(app.flags, flag_dialog | flag_runtimer);
  ASSERT_EQ(app.classes.size(), 2u);  // the class without a name is ignored
  EXPECT_EQ(app.classes.at(L"Edit").flags, flag_edit);
  EXPECT_EQ(app.classes.at(L"Edit").captions.size(), 1u);
  EXPECT_EQ(app.classes.at(L"Edit").captions.at(L"Log on"), flag_first | flag_protected);
  EXPECT_EQ(app.classes.at(L"Btn").flags, 0u);
  const processrule_t& all = m.processes.at(L"all");  // no name and an empty one
  EXPECT_EQ(all.flags, flag_nocom | flag_noacc);
  EXPECT_EQ(all.classes.at(L"X").flags, 0u);
  EXPECT_EQ(m.processes.at(L"other.exe").flags, 0u);

  // Each type alone; a "+" before it changes nothing, anything else is no type.
  std::map<std::string, std::uint32_t> flags = {
      {"skip", flag_skip},           {"nocom", flag_nocom},       {"noacc", flag_noacc},
      {"first", flag_first},         {"dialog", flag_dialog},     {"edit", flag_edit},
      {"protected", flag_protected}, {"button", flag_button},     {"nochildren", flag_nochildren},
      {"runtimer", flag_runtimer},   {"+runtimer", flag_runtimer}};
  for (const char* no_type : {"Skip", "", "-", "--skip"})
    flags[no_type] = 0;
  for (const auto& [type, bit] : flags) {
    const manifest_t one = parse(R"(<manifest><options><processes><process name="p" type=")" +
                                 type + R"("/></processes></options></manifest>)");
    EXPECT_EQ(one.processes.at(L"p").flags, bit) << type;
  }
}

TEST(TemplateSchema, ElementsOnlyCountAtTheirPlace) {
  const manifest_t m = parse(R"(<manifest>
      <forms><form><detection caption="first"/></form>
        <descriptor id="misplaced"/></forms>
      <unknown><forms><form/></forms></unknown>
      <Forms><form/></Forms>
      <descriptor id="real"/>
      <forms><form><fields><field displayname="a"><field displayname="nested"/></field>
        <x><field displayname="hidden"/></x><field displayname="b"/></fields></form></forms>
      <fcontext name="5"/>
    </manifest>)");
  EXPECT_EQ(m.descriptor.id, "real");
  ASSERT_EQ(m.forms.size(), 2u);  // forms elements are not merged: each form appends
  EXPECT_EQ(m.forms[0].detection.caption, "first");
  ASSERT_EQ(m.forms[1].fields.size(), 2u);
  EXPECT_EQ(m.forms[1].fields[1].displayname, "b");

  // Another root element gives an empty template; so does a root "manifest"
  // below something else.
  EXPECT_EQ(parse(R"(<template><descriptor id="x"/></template>)"), manifest_t{});
  EXPECT_EQ(parse(R"(<r><manifest><descriptor id="x"/></manifest></r>)"), manifest_t{});
}

TEST(TemplateSchema, ErrorsCarryExpatTextLineAndColumn) {
  const struct {
    const char* xml;
    const char* message;
  } cases[] = {
      {"<manifest a='1' a='2'/>", "duplicate attribute at line 1 [16].\n"},
      {"<manifest/><second/>", "junk after document element at line 1 [11].\n"},
      {"\n\n   &", "not well-formed (invalid token) at line 3 [3].\n"},
  };
  for (const auto& c : cases) {
    manifest_t m;
    try {
      read_manifest(c.xml, std::char_traits<char>::length(c.xml), m);
      ADD_FAILURE() << "no error for " << c.xml;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(TemplatePasses, CaptionPrefixes) {
  const struct {
    const char* caption;
    int matchtype;
    const char* pattern;
    const char* variable;
  } cases[] = {
      {"[m0]:2:3:Inbox ^2dot; mail^up;x", match_contains, "*Inbox : mail^x*", "Inbox : mail^x"},
      {"[m0]:2:1:- Mail", match_endswith, "*- Mail", "- Mail"},
      {"[m0]:2:2:Sign in", match_beginswith, "Sign in*", "Sign in"},
      {"[m0]:2:2:", match_beginswith, "*", ""},
      {"[m0]:2:4:Other", match_asis, "[m0]:2:4:Other", "kept"},
      {"[M0]:2:1:x", match_asis, "[M0]:2:1:x", "kept"},
      {"Plain caption", match_asis, "Plain caption", "kept"},
      {"x[m0]:2:1:y", match_asis, "x[m0]:2:1:y", "kept"},
  };
  for (const auto& c : cases) {
    const detection_t d = read_form(std::string("<detection variablecaption=\"kept\" caption=\"") +
                                    c.caption + "\"/>")
                              .detection;
    EXPECT_EQ(d.matchtype, c.matchtype) << c.caption;
    EXPECT_EQ(d.caption, c.pattern) << c.caption;
    EXPECT_EQ(d.variablecaption, c.variable) << c.caption;
  }
}

TEST(TemplatePasses, ContextsOfTheFirstTwoForms) {
  struct context {
    const char* attributes;  // of the fcontext element; null: none
    fcontext_t expected;
  };
  const struct {
    context first, second, third;
  } cases[] = {
      {{nullptr, {1, 0, -1}}, {nullptr, {1, 0, -1}}, {nullptr, {1, -1, -1}}},
      {{R"(type="" name="3" parent="9")", {1, 0, -1}},
       {R"(type="pchange" name="1" parent="4")", {2, 1, 4}},
       {R"(type="x" name="7" parent="0")", {0, 7, 0}}},
      {{R"(type="x" name="5")", {1, 0, -1}},
       {R"(type="x" name="3")", {2, 1, 0}},
       {R"(type="pchange")", {2, -1, -1}}},
      {{R"(type="pchange" name="1")", {2, 1, 0}},
       {R"(type="x" name="0" parent="2")", {1, 0, -1}},
       {R"(name="1")", {1, 1, -1}}},
      {{R"(type="x" name="1" parent="-1")", {2, 1, 0}},
       {R"(type="x")", {2, 1, 0}},
       {R"(type="")", {1, -1, -1}}},
  };
  for (const auto& c : cases) {
    std::string xml;
    for (const context& x : {c.first, c.second, c.third})
      xml +=
          x.attributes ? std::string("<form><fcontext ") + x.attributes + "/></form>" : "<form/>";
    const manifest_t m = read(forms(xml));
    EXPECT_EQ(m.forms[0].context, c.first.expected) << xml;
    EXPECT_EQ(m.forms[1].context, c.second.expected) << xml;
    EXPECT_EQ(m.forms[2].context, c.third.expected) << xml;
  }
}

TEST(TemplatePasses, ValueKinds) {
  const struct {
    const char* attributes;
    int kind;
  } cases[] = {
      {R"(value="v" onetvalue="1" askalways="1")", value_fixed},
      {R"(value="%0a")", value_fixed},
      {R"(value="" onetvalue="1" askalways="1")", value_onetime},
      {R"(askalways="1")", value_askalways},
      {R"(askalways="true")", value_stored},
      {R"(choosevalue="a")", value_stored},
  };
  for (const auto& c : cases)
    EXPECT_EQ(only_field(read(field_with(c.attributes))).valuekind, c.kind) << c.attributes;
}

TEST(TemplatePasses, WebAddressesAndQuickLinkUse) {
  const struct {
    const char* detection;
    const char* options;
    const char* ourl;
    bool from_murl;
    bool checkurl;
    int usequicklink;
  } cases[] = {
      {R"(web_murl="m")", "", "m", true, true, quicklink_dont},
      {R"(web_murl="m" web_qurl="q")", "", "m", true, true, quicklink_use_it},
      {R"(web_ourl="o" web_murl="m" web_qurl="q")", "", "o", false, true, quicklink_use_it},
      {R"(web_ourl="o" web_checkurl="1")", "", "o", false, false, quicklink_dont},
      {R"(processname="app.exe")", "", "", false, false, quicklink_use_it},
      {R"(web_qurl="q")", "", "", false, false, quicklink_dont},
      {R"(web_murl="m" web_qurl="q")", R"(usequicklink="2")", "m", true, true, quicklink_dont},
      {"", R"(usequicklink="1")", "", false, false, quicklink_use_it},
  };
  for (const auto& c : cases) {
    const form_t form =
        read_form(std::string("<detection ") + c.detection + "/><options " + c.options + "/>");
    EXPECT_EQ(form.detection.web_ourl, c.ourl) << c.detection;
    EXPECT_EQ(form.detection.ourl_from_murl, c.from_murl) << c.detection;
    EXPECT_EQ(form.detection.web_checkurl, c.checkurl) << c.detection;
    EXPECT_EQ(form.options.usequicklink, c.usequicklink) << c.detection << " " << c.options;
  }
}

TEST(TemplatePasses, FieldNumbering) {
  // The corpus has forms 1 (0x10000, ...) and 7; these are the edges.
  const manifest_t m = read(forms(R"(<form><fields><field/><field/><field/></fields></form>
      <form><fcontext type="pchange" name="1"/><fields><field/><field/></fields></form>
      <form><fcontext type="x" name="-1"/><fields><field/><field/></fields></form>
      <form><fcontext type="x" name="40000"/><fields><field/></fields></form>)"));
  const struct {
    std::size_t form;
    int formindex;
    std::vector<int> numbers;
  } expected[] = {{0, 0, {0, 1, 2}},
                  {1, 1, {0x10000, 0x10001}},
                  {2, -1, {-65536, -65535}},
                  {3, 40000, {static_cast<int>(40000u << 16)}}};
  for (const auto& e : expected) {
    const form_t& form = m.forms.at(e.form);
    ASSERT_EQ(form.fields.size(), e.numbers.size());
    for (std::size_t i = 0; i < e.numbers.size(); ++i) {
      EXPECT_EQ(form.fields[i].formindex, e.formindex) << e.form;
      EXPECT_EQ(form.fields[i].fieldindex, e.numbers[i]) << e.form << "/" << i;
    }
  }

  // Numbers already given continue from the largest one; the passes run again
  // on a loaded template keep the numbers they gave.
  manifest_t again = m;
  again.forms[0].fields.emplace_back();
  again.forms[1].fields.emplace_back().fieldindex = 0x10000 + 9;
  again.forms[1].fields.emplace_back();
  run_passes(again);
  EXPECT_EQ(again.forms[0].fields[3].fieldindex, 3);
  EXPECT_EQ(again.forms[1].fields[3].fieldindex, 0x1000A);
}

TEST(TemplatePasses, RelatedFields) {
  // Form 0: user, pin (password), otp (password). Form 1 (pchange) holds the
  // fields under test after a plain first field.
  const std::string logon = R"(<form><fields><field displayname="user"/>
      <field displayname="pin" password="1"/><field displayname="otp" password="1"/></fields></form>)";
  const struct {
    const char* attributes;
    int rfieldform;  // after the passes
    int rfieldpos;
    int unresolved;
  } cases[] = {
      {R"(rfield="in")", 0, 1, 0},                           // first password field of form 0
      {R"(rfield="out")", 0, 1, 0},                          // either direction
      {R"(rfieldindex="2")", 0, 2, 0},                       // position in form 0
      {R"(rfieldindex="0" rfieldform="1")", 1, 0x10000, 0},  // position in form 1
      {R"(rfieldindex="9")", 0, 1, 0},                       // beyond: first password
      {R"(rfieldindex="-5")", 0, 1, 0},                      // negative: first password
      {R"(rfieldform="1" rfieldindex="-5")", 1, -1, 2},      // form 1 has no password
      {R"(rfield="in" rfieldform="0")", 0, -1, 0},           // not looked up
      {R"(rfield="in" rfieldform="-2" rfieldindex="1")", -2, -1, 0},  // never looked up
      {R"(rfieldindex="0" rfieldform="5")", 5, -1, 2},                // no such form
      {R"(rfield="bogus")", -1, -1, 0},
      {"", -1, -1, 0},
  };
  for (const auto& c : cases) {
    const manifest_t m = read(forms(logon + R"(<form><fcontext type="pchange"/><fields>
        <field displayname="plain"/><field )" +
                                    c.attributes + "/></fields></form>"));
    const field_t& f = m.forms[1].fields[1];
    EXPECT_EQ(f.rfieldform, c.rfieldform) << c.attributes;
    EXPECT_EQ(f.rfieldpos, c.rfieldpos) << c.attributes;
    EXPECT_EQ(m.unresolved, c.unresolved) << c.attributes;
    int refs = 0;
    for (const form_t& form : m.forms) {
      for (const field_t& target : form.fields) {
        refs += target.refcount;
        if (target.refcount) {
          EXPECT_EQ(target.fieldindex, c.rfieldpos) << c.attributes;
        }
      }
    }
    EXPECT_EQ(refs, c.rfieldpos == -1 ? 0 : 1) << c.attributes;
  }

  // No form with index 0 at all (both first forms become password-change
  // forms): marked unresolved, still read.
  const manifest_t lone = read(forms(R"(<form><fcontext type="pchange" name="1"/></form>
      <form><fcontext type="x" name="4"/></form><form><fcontext type="x" name="6"/>
      <fields><field rfield="in"/></fields></form>)"));
  ASSERT_EQ(lone.forms[1].context, (fcontext_t{2, 1, 0}));
  EXPECT_EQ(lone.unresolved, 2);
  EXPECT_FALSE(lone.empty);

  // The passes run again count a resolved reference again (pass 7); pass 8
  // leaves the field alone now that it names its form.
  manifest_t again = read(forms(R"(<form><fields><field password="1"/><field rfield="in"/>
      </fields></form>)"));
  run_passes(again);
  EXPECT_EQ(again.forms[0].fields[0].refcount, 2);
  EXPECT_EQ(again.forms[0].fields[1].rfieldpos, 0);
}

}  // namespace
}  // namespace templates
