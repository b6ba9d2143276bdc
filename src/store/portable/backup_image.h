// The backup image the console keeps for this component: one DER SEQUENCE of
// three SEQUENCEs (templates, quick links, categories), written and read here
// without the system's decoder so that every size is checked before anything is
// copied. Platform-free.
//
//   image = SEQUENCE {
//     SEQUENCE OF SEQUENCE { BMPString file name, OCTET STRING file bytes },
//     SEQUENCE OF SEQUENCE { BMPString name, BMPString target, BMPString template
//                            file name, INTEGER profile, BMPString template id },
//     SEQUENCE OF SEQUENCE { BMPString category, BMPString member list } }
//
// Every BMPString holds its text and a terminating zero code unit, as the
// component's string blobs encode them (L"A" is 1E 04 00 41 00 00).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace backup {

struct template_file_t {
  std::u16string name;
  std::string bytes;
  bool operator==(const template_file_t&) const = default;
};

struct link_t {
  std::u16string name;
  std::u16string target;
  std::u16string template_file;
  std::int32_t profile = 0;
  std::u16string template_id;
  bool operator==(const link_t&) const = default;
};

struct category_t {
  std::u16string name;
  std::u16string members;
  bool operator==(const category_t&) const = default;
};

struct image_t {
  std::vector<template_file_t> templates;
  std::vector<link_t> links;
  std::vector<category_t> categories;
  bool operator==(const image_t&) const = default;
};

// The image's DER bytes.
std::vector<std::uint8_t> build(const image_t& image);

// A parsed image: each part is present only when every one of its elements
// decoded (a part that does not is skipped whole by a restore).
struct parsed_image_t {
  std::optional<std::vector<template_file_t>> templates;
  std::optional<std::vector<link_t>> links;
  std::optional<std::vector<category_t>> categories;
};

// Parses the image; nullopt unless the bytes are exactly one DER SEQUENCE of
// exactly three elements, each itself a SEQUENCE. Only the shortest (DER) form
// of every length and integer is taken, texts must end in their one zero code
// unit, so that building a fully parsed image gives the same bytes again.
std::optional<parsed_image_t> parse(const std::uint8_t* data, std::size_t size);

// True for a name a restored template may be written under: a plain file name
// ending in ".cvm" (without regard to case), without folders, drive, "..",
// control or wildcard characters.
bool is_template_file_name(std::u16string_view name);

}  // namespace backup
