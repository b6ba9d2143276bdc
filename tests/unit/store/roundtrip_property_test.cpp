// load(save(x)) == x on generated trees: each tree is described by a plain
// model, built through the storage operations, saved, loaded into a fresh
// storage and compared with the model entry by entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "store/portable/storage_named.h"
#include "store_test_support.h"

namespace serialization::StorageNamed::InMemStorageSpace {
namespace {

using storetest::bytes_t;

struct model_t {
  std::string name;  // in its section
  std::uint8_t tag = kTagSection;
  std::uint8_t kind = 0;
  bytes_t payload;                // value
  std::vector<model_t> children;  // section, sorted by name, unique
  std::vector<model_t> sections;  // sections array
  std::vector<bytes_t> values;    // values array
};

class generator {
 public:
  explicit generator(std::uint32_t seed) : m_random(seed) {}

  model_t section(int depth) {
    model_t m;
    for (int i = pick(0, depth > 3 ? 2 : 6); i > 0; --i) {
      model_t child = entry(depth + 1);
      child.name = name();
      const auto same = std::find_if(m.children.begin(), m.children.end(),
                                     [&](const model_t& c) { return c.name == child.name; });
      if (same != m.children.end())  // the same name again replaces
        *same = std::move(child);
      else
        m.children.push_back(std::move(child));
    }
    std::sort(m.children.begin(), m.children.end(),
              [](const model_t& a, const model_t& b) { return a.name < b.name; });
    return m;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

  std::string name() {
    // A small alphabet (so names repeat) with high bytes and the empty name.
    static const char letters[] = {'a', 'b', 'B', '_', '\x7F', '\x80', '\xFF'};
    std::string text(static_cast<std::size_t>(pick(0, 3)), 'a');
    for (char& c : text)
      c = letters[pick(0, sizeof letters - 1)];
    return text;
  }

  bytes_t payload() {
    const int shape = pick(0, 99);
    bytes_t bytes(shape < 70 ? pick(0, 20) : shape < 95 ? pick(60, 300) : pick(16380, 16390));
    for (auto& b : bytes)
      b = static_cast<std::uint8_t>(pick(0, 255));
    return bytes;
  }

  model_t entry(int depth) {
    model_t m;
    m.tag = static_cast<std::uint8_t>(pick(depth > 4 ? 2 : 1, 4));
    m.kind = static_cast<std::uint8_t>(pick(0, 255));
    if (m.tag == kTagSection)
      return section(depth);
    if (m.tag == kTagValue)
      m.payload = payload();
    for (int i = m.tag == kTagSectionsArray ? pick(1, 3) : 0; i > 0; --i)
      m.sections.push_back(section(depth + 1));
    for (int i = m.tag == kTagValuesArray ? pick(0, 4) : 0; i > 0; --i)
      m.values.push_back(payload());
    return m;
  }

  std::mt19937 m_random;
};

fake_memblock_t view(const bytes_t& bytes) {
  return fake_memblock_t(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

// Builds the model's children into the section with the public operations.
void build(CInMemStorage& s, CSSection* section, const model_t& m) {
  for (const model_t& child : m.children) {
    if (child.tag == kTagSection) {
      auto inner = boost::make_shared<CSSection>();
      ASSERT_TRUE(SetEntry(s, child.name, inner, section));
      build(s, inner.get(), child);
    } else if (child.tag == kTagValue) {
      ASSERT_TRUE(SetValue(s, section, child.name, view(child.payload), child.kind));
    } else if (child.tag == kTagSectionsArray) {
      sections_array_ptr array;
      section_ptr element = CreateSectionsArray(s, section, child.name, &array);
      ASSERT_TRUE(element);
      for (std::size_t k = 0; k < child.sections.size(); ++k)
        build(s, (k ? AppendSection(*array) : element).get(), child.sections[k]);
    } else {
      auto array = boost::make_shared<CSValuesArray>(child.kind);
      for (const auto& value : child.values)
        array->append(boost::make_shared<CMemoryObjectEx>(view(value)));
      ASSERT_TRUE(SetEntry(s, child.name, array, section));
    }
  }
}

void expect_same_section(const CSSection& section, const model_t& m, const std::string& path) {
  ASSERT_EQ(section.count(), m.children.size()) << path;
  for (std::size_t i = 0; i < m.children.size(); ++i) {
    const auto& [name, entry] = section.entries()[i];
    const model_t& child = m.children[i];
    const std::string at = path + "/" + name;
    ASSERT_EQ(name, child.name) << path;
    ASSERT_EQ(entry->type(), child.tag) << at;
    if (child.tag == kTagSection) {
      expect_same_section(static_cast<const CSSection&>(*entry), child, at);
    } else if (child.tag == kTagValue) {
      const auto& value = static_cast<const CSValue&>(*entry);
      EXPECT_EQ(value.kind(), child.kind) << at;
      EXPECT_EQ(storetest::bytes_of(value.payload()), child.payload) << at;
    } else if (child.tag == kTagSectionsArray) {
      const auto& array = static_cast<const CSSectionsArray&>(*entry);
      ASSERT_EQ(array.count(), child.sections.size()) << at;
      for (std::size_t k = 0; k < child.sections.size(); ++k)
        expect_same_section(*array.elements()[k], child.sections[k],
                            at + "[" + std::to_string(k) + "]");
    } else {
      const auto& array = static_cast<const CSValuesArray&>(*entry);
      EXPECT_EQ(array.kind(), child.kind) << at;
      ASSERT_EQ(array.count(), child.values.size()) << at;
      for (std::size_t k = 0; k < child.values.size(); ++k)
        EXPECT_EQ(storetest::bytes_of(*array.elements()[k]), child.values[k])
            << at << "[" << k << "]";
    }
  }
}

TEST(NamedRoundTrip, GeneratedTreesLoadBackAsTheyWereBuilt) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    generator g(seed);
    const model_t model = g.section(0);
    CInMemStorage built;
    build(built, nullptr, model);
    ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "seed " << seed;
    expect_same_section(built.root(), model, "built");

    CMemoryObjectEx image;
    const std::uint32_t size = Save(built, image);
    ASSERT_NE(size, 0u) << "seed " << seed;
    ASSERT_EQ(size, ImageSize(built)) << "seed " << seed;

    CInMemStorage loaded;
    ASSERT_EQ(Load(image, loaded), size) << "seed " << seed;
    expect_same_section(loaded.root(), model, "seed " + std::to_string(seed));
    ASSERT_FALSE(::testing::Test::HasFailure()) << "seed " << seed;
    // Saving what was loaded gives the same bytes.
    EXPECT_EQ(storetest::save(loaded), storetest::bytes_of(image)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace serialization::StorageNamed::InMemStorageSpace
