// The profile text of the fill-in stand-in: the user's profiles, per template,
// as one text that the protected storage keeps (docs/protected-storage.md,
// "The profile text"):
//
//   CVProfileData 1
//   [template]
//   id={...}
//   [record]
//   profilename=Work mail
//   ...
//   [item]
//   value=alice@example.com
//   ...
//
// profile_data_t reads a text once: one scan finds each template's block, and
// the records of a template are parsed when they are first asked for. Asking
// for the profiles of thousands of templates therefore reads the text once,
// not once per template. A new text with one template's profiles replaced
// copies every other block as it stands.
//
// Platform-free; secrets (item values) live in wiping buffers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/portable/profile_records.h"
#include "store/portable/secure_memory.h"

namespace cvfillin {

// A text being built or kept that may hold secrets: wiped when freed. Not
// terminated.
using secret_text = std::vector<wchar_t, serialization::wiping_allocator<wchar_t>>;

inline constexpr std::wstring_view kProfileDataHeader = L"CVProfileData 1";

// The key a template's profiles are found by: the identifier with the ASCII
// letters in lower case ("{0A1B...}" and "{0a1b...}" name one template).
std::wstring template_key(std::wstring_view template_id);

// The records of one template block (the lines after its "[template]" line).
// Unknown names and lines outside a record are skipped; a field whose value
// cannot be read keeps its default.
serialization::cvprofiles_t parse_records(std::wstring_view block);

// Appends one template block: "[template]", its "id=" line and the records.
void write_template(secret_text& out,
                    std::wstring_view template_id,
                    const serialization::cvprofiles_t& profiles);

// Values with "\" as "\\", line feeds as "\n" and carriage returns as "\r",
// and back (a backslash before any other character stands for itself).
void append_escaped(secret_text& out, std::wstring_view value);
void append_unescaped(secret_text& out, std::wstring_view escaped);

class profile_data_t {
 public:
  // The empty text: profile data without profiles.
  profile_data_t() = default;
  // Copies and indexes the text.
  explicit profile_data_t(std::wstring_view text);

  // True for the empty text and for a text whose first line is the header.
  bool is_profile_data() const noexcept { return m_profile_data; }
  std::wstring_view text() const noexcept { return {m_text.data(), m_text.size()}; }
  // True when `text` is the text this object read.
  bool holds(std::wstring_view text) const noexcept { return this->text() == text; }
  // The same for a zero-terminated text (null is the empty text), in one
  // pass that reads no further than its terminator: a caller that asks again
  // with the same text pays one comparison, not a new reading.
  bool holds_string(const wchar_t* text) const noexcept;
  std::size_t template_count() const noexcept { return m_blocks.size(); }

  // The records of every block of the template, in text order; empty for a
  // template without profiles or a text that is not profile data. Parsed on
  // the first request and kept.
  const serialization::cvprofiles_t& profiles(std::wstring_view template_id);

  // The text with the template's profiles replaced: the first block of the
  // template is rewritten (and its other blocks dropped), or a new block is
  // appended; an empty list removes the template. Every other line stays as
  // it is. For the empty text the result starts with the header. Not
  // meaningful when the text is not profile data.
  secret_text with_profiles(std::wstring_view template_id,
                            const serialization::cvprofiles_t& profiles) const;

 private:
  struct block_t {
    std::size_t begin = 0;  // the "[template]" line
    std::size_t end = 0;    // the next block, or the end of the text
    std::wstring key;
  };

  secret_text m_text;
  bool m_holds_zero = false;
  bool m_profile_data = true;
  std::vector<block_t> m_blocks;
  std::unordered_map<std::wstring, std::vector<std::size_t>> m_index;  // key -> blocks
  std::unordered_map<std::wstring, serialization::cvprofiles_t> m_parsed;
};

}  // namespace cvfillin
