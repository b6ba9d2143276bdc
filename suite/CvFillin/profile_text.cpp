#include "suite/CvFillin/profile_text.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include "templates/portable/manifest_text.h"

namespace cvfillin {
namespace {

using serialization::cvprofile_t;
using serialization::cvprofileitem_t;
using serialization::cvprofiles_t;

constexpr std::wstring_view kTemplateLine = L"[template]";
constexpr std::wstring_view kRecordLine = L"[record]";
constexpr std::wstring_view kItemLine = L"[item]";
constexpr std::wstring_view kIdName = L"id";

// One line of a text: where it starts, where the next one starts, and its
// characters without the line end (a carriage return before the line feed is
// not part of the line).
struct line_t {
  std::size_t begin = 0;
  std::size_t next = 0;
  std::wstring_view content;
};

line_t line_at(std::wstring_view text, std::size_t begin) noexcept {
  const std::size_t feed = text.find(L'\n', begin);
  line_t line;
  line.begin = begin;
  line.next = feed == std::wstring_view::npos ? text.size() : feed + 1;
  std::size_t end = feed == std::wstring_view::npos ? text.size() : feed;
  if (end > begin && text[end - 1] == L'\r')
    --end;
  line.content = text.substr(begin, end - begin);
  return line;
}

std::optional<std::int32_t> parse_int(std::wstring_view text) noexcept {
  bool negative = false;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) {
    negative = text[i] == L'-';
    ++i;
  }
  if (i == text.size())
    return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9')
      return std::nullopt;
    value = value * 10 + (text[i] - L'0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
      return std::nullopt;
  }
  value = negative ? -value : value;
  if (value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::wstring unescaped(std::wstring_view escaped) {
  secret_text text;
  append_unescaped(text, escaped);
  return std::wstring(text.data(), text.size());
}

void set_int(std::int32_t& field, std::wstring_view value) {
  if (const auto number = parse_int(value))
    field = *number;
}

void set_record_field(cvprofile_t& record, std::wstring_view name, std::wstring_view value) {
  if (name == L"operation")
    set_int(record.operation, value);
  else if (name == L"profileindex")
    set_int(record.profileindex, value);
  else if (name == L"profilename")
    record.profilename = unescaped(value);
  else if (name == L"qlinkname")
    record.qlinkname = unescaped(value);
  else if (name == L"submitprofile")
    set_int(record.submitprofile, value);
  else if (name == L"updatedate")
    record.updatedate = templates::wide_to_utf8(unescaped(value));
  else if (name == L"formindex")
    set_int(record.formindex, value);
}

void set_item_field(cvprofileitem_t& item, std::wstring_view name, std::wstring_view value) {
  if (name == L"value_op") {
    set_int(item.value_op, value);
  } else if (name == L"displayname_op") {
    set_int(item.displayname_op, value);
  } else if (name == L"displayname") {
    item.displayname = unescaped(value);
  } else if (name == L"value") {
    secret_text text;
    append_unescaped(text, value);
    item.value.assign(std::wstring_view(text.data(), text.size()));
  } else if (name == L"dbname") {
    item.dbname = templates::wide_to_utf8(unescaped(value));
  } else if (name == L"memid") {
    set_int(item.memid, value);
  }
}

void append(secret_text& out, std::wstring_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

void append_line(secret_text& out, std::wstring_view line) {
  append(out, line);
  out.push_back(L'\n');
}

void append_field(secret_text& out, std::wstring_view name, std::wstring_view value) {
  append(out, name);
  out.push_back(L'=');
  append_escaped(out, value);
  out.push_back(L'\n');
}

void append_field(secret_text& out, std::wstring_view name, std::int32_t value) {
  append_field(out, name, std::to_wstring(value));
}

void end_line(secret_text& out) {
  if (!out.empty() && out.back() != L'\n')
    out.push_back(L'\n');
}

}  // namespace

std::wstring template_key(std::wstring_view template_id) {
  std::wstring key(template_id);
  for (wchar_t& c : key)
    if (c >= L'A' && c <= L'Z')
      c = static_cast<wchar_t>(c - L'A' + L'a');
  return key;
}

void append_escaped(secret_text& out, std::wstring_view value) {
  for (const wchar_t c : value) {
    switch (c) {
      case L'\\':
        append(out, L"\\\\");
        break;
      case L'\n':
        append(out, L"\\n");
        break;
      case L'\r':
        append(out, L"\\r");
        break;
      default:
        out.push_back(c);
    }
  }
}

void append_unescaped(secret_text& out, std::wstring_view escaped) {
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    const wchar_t c = escaped[i];
    if (c != L'\\' || i + 1 == escaped.size()) {
      out.push_back(c);
      continue;
    }
    switch (escaped[i + 1]) {
      case L'\\':
        out.push_back(L'\\');
        ++i;
        break;
      case L'n':
        out.push_back(L'\n');
        ++i;
        break;
      case L'r':
        out.push_back(L'\r');
        ++i;
        break;
      default:
        out.push_back(L'\\');  // stands for itself; the next character is read as usual
    }
  }
}

cvprofiles_t parse_records(std::wstring_view block) {
  enum class state_t { outside, record, item, skip };
  cvprofiles_t list;
  state_t state = state_t::outside;
  for (std::size_t at = 0; at < block.size();) {
    const line_t line = line_at(block, at);
    at = line.next;
    const std::wstring_view content = line.content;
    if (content.empty() || content.front() == L'#')
      continue;
    if (content.front() == L'[') {
      if (content == kRecordLine) {
        list.emplace_back();
        state = state_t::record;
      } else if (content == kItemLine && !list.empty()) {
        list.back().items.emplace_back();
        state = state_t::item;
      } else {
        state = state_t::skip;  // an unknown part, or an item without a record
      }
      continue;
    }
    const std::size_t equals = content.find(L'=');
    if (equals == std::wstring_view::npos)
      continue;
    const std::wstring_view name = content.substr(0, equals);
    const std::wstring_view value = content.substr(equals + 1);
    if (state == state_t::record)
      set_record_field(list.back(), name, value);
    else if (state == state_t::item)
      set_item_field(list.back().items.back(), name, value);
  }
  return list;
}

void write_template(secret_text& out, std::wstring_view template_id, const cvprofiles_t& profiles) {
  append_line(out, kTemplateLine);
  append_field(out, kIdName, template_id);
  for (const cvprofile_t& record : profiles) {
    append_line(out, kRecordLine);
    append_field(out, L"operation", record.operation);
    append_field(out, L"profileindex", record.profileindex);
    append_field(out, L"profilename", record.profilename);
    append_field(out, L"qlinkname", record.qlinkname);
    append_field(out, L"submitprofile", record.submitprofile);
    append_field(out, L"updatedate", templates::utf8_to_wide(record.updatedate));
    append_field(out, L"formindex", record.formindex);
    for (const cvprofileitem_t& item : record.items) {
      append_line(out, kItemLine);
      append_field(out, L"value_op", item.value_op);
      append_field(out, L"displayname_op", item.displayname_op);
      append_field(out, L"displayname", item.displayname);
      append_field(out, L"value", item.value.view());
      append_field(out, L"dbname", templates::utf8_to_wide(item.dbname));
      append_field(out, L"memid", item.memid);
    }
  }
}

profile_data_t::profile_data_t(std::wstring_view text)
    : m_text(text.begin(), text.end()), m_holds_zero(text.find(L'\0') != std::wstring_view::npos) {
  const std::wstring_view all = this->text();
  if (all.empty())
    return;
  m_profile_data = line_at(all, 0).content == kProfileDataHeader;
  if (!m_profile_data)
    return;
  // One pass over the lines: where each block starts, and the "id=" line
  // before its first record.
  bool looking_for_id = false;
  for (std::size_t at = line_at(all, 0).next; at < all.size();) {
    const line_t line = line_at(all, at);
    at = line.next;
    const std::wstring_view content = line.content;
    if (content.empty())
      continue;
    if (content.front() == L'[') {
      if (content == kTemplateLine) {
        if (!m_blocks.empty())
          m_blocks.back().end = line.begin;
        block_t block;
        block.begin = line.begin;
        block.end = all.size();
        m_blocks.push_back(std::move(block));
        looking_for_id = true;
      } else {
        looking_for_id = false;  // the template's records begin
      }
      continue;
    }
    if (looking_for_id && content.size() > kIdName.size() && content.starts_with(kIdName) &&
        content[kIdName.size()] == L'=') {
      m_blocks.back().key = template_key(unescaped(content.substr(kIdName.size() + 1)));
      looking_for_id = false;
    }
  }
  for (std::size_t i = 0; i < m_blocks.size(); ++i)
    m_index[m_blocks[i].key].push_back(i);
}

bool profile_data_t::holds_string(const wchar_t* text) const noexcept {
  if (text == nullptr)
    return m_text.empty();
  // A kept text with a zero in it equals no terminated text. Otherwise the
  // end of `text` differs from the kept character there, so comparing stops
  // at the first difference without reading past the terminator.
  if (m_holds_zero)
    return false;
  const wchar_t* kept = m_text.data();
  const std::size_t size = m_text.size();
  for (std::size_t i = 0; i < size; ++i)
    if (text[i] != kept[i])
      return false;
  return text[size] == L'\0';
}

const cvprofiles_t& profile_data_t::profiles(std::wstring_view template_id) {
  std::wstring key = template_key(template_id);
  if (const auto parsed = m_parsed.find(key); parsed != m_parsed.end())
    return parsed->second;
  cvprofiles_t list;
  if (const auto blocks = m_index.find(key); blocks != m_index.end()) {
    const std::wstring_view all = text();
    for (const std::size_t i : blocks->second) {
      const block_t& block = m_blocks[i];
      const std::size_t body = line_at(all, block.begin).next;
      cvprofiles_t records = parse_records(all.substr(body, block.end - body));
      for (cvprofile_t& record : records)
        list.push_back(std::move(record));
    }
  }
  return m_parsed.emplace(std::move(key), std::move(list)).first->second;
}

secret_text profile_data_t::with_profiles(std::wstring_view template_id,
                                          const cvprofiles_t& profiles) const {
  const std::wstring_view all = text();
  const std::wstring key = template_key(template_id);
  secret_text out;
  out.reserve(all.size() + 256 + profiles.size() * 512);
  if (all.empty()) {
    append_line(out, kProfileDataHeader);
  } else {
    append(out, all.substr(0, m_blocks.empty() ? all.size() : m_blocks.front().begin));
  }
  bool written = false;
  for (const block_t& block : m_blocks) {
    end_line(out);
    if (block.key != key) {
      append(out, all.substr(block.begin, block.end - block.begin));
      continue;
    }
    if (!written && !profiles.empty())
      write_template(out, template_id, profiles);
    written = true;
  }
  if (!written && !profiles.empty()) {
    end_line(out);
    write_template(out, template_id, profiles);
  }
  return out;
}

}  // namespace cvfillin
