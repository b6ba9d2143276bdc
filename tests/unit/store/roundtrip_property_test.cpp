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
  std::uint8_t tag = kTagSection;
  std::uint8_t kind = 0;
  bytes_t payload;                 // value
  std::vector<std::string> names;  // section: children by name, unique
  std::vector<model_t> children;   //   (parallel to names)
  std::vector<model_t> sections;   // sections array
  std::vector<bytes_t> values;     // values array
};

class generator {
 public:
  explicit generator(std::uint32_t seed) : m_random(seed) {}

  model_t section(int depth) {
    model_t m;
    const int count = pick(0, depth > 3 ? 2 : 6);
    for (int i = 0; i < count; ++i) {
      std::string name = this->name();
      model_t child = entry(depth + 1);
      const auto at = std::find(m.names.begin(), m.names.end(), name);
      if (at != m.names.end()) {  // the same name again replaces
        m.children[at - m.names.begin()] = std::move(child);
      } else {
        m.names.push_back(std::move(name));
        m.children.push_back(std::move(child));
      }
    }
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
    const std::size_t size = shape < 70   ? pick(0, 20)
                             : shape < 95 ? pick(60, 300)
                             : shape < 99 ? pick(16380, 16390)
                                          : 0;
    bytes_t bytes(size);
    for (auto& b : bytes)
      b = static_cast<std::uint8_t>(pick(0, 255));
    return bytes;
  }

  model_t entry(int depth) {
    const int kind = pick(depth > 4 ? 2 : 1, 4);
    model_t m;
    m.tag = static_cast<std::uint8_t>(kind);
    switch (kind) {
      case kTagSection:
        return section(depth);
      case kTagValue:
        m.kind = static_cast<std::uint8_t>(pick(0, 255));
        m.payload = payload();
        break;
      case kTagSectionsArray:
        for (int i = pick(1, 3); i > 0; --i)
          m.sections.push_back(section(depth + 1));
        break;
      case kTagValuesArray:
        m.kind = static_cast<std::uint8_t>(pick(0, 255));
        for (int i = pick(0, 4); i > 0; --i)
          m.values.push_back(payload());
        break;
    }
    return m;
  }

  std::mt19937 m_random;
};

fake_memblock_t view(const bytes_t& bytes) {
  return fake_memblock_t(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

// Builds the model's children into the section with the public operations.
void build(CInMemStorage& s, CSSection* section, const model_t& m) {
  for (std::size_t i = 0; i < m.names.size(); ++i) {
    const std::string& name = m.names[i];
    const model_t& child = m.children[i];
    switch (child.tag) {
      case kTagSection: {
        auto inner = boost::make_shared<CSSection>();
        ASSERT_TRUE(SetEntry(s, name, inner, section));
        build(s, inner.get(), child);
        break;
      }
      case kTagValue:
        ASSERT_TRUE(SetValue(s, section, name, view(child.payload), child.kind));
        break;
      case kTagSectionsArray: {
        sections_array_ptr array;
        section_ptr element = CreateSectionsArray(s, section, name, &array);
        ASSERT_TRUE(element);
        for (std::size_t k = 0; k < child.sections.size(); ++k) {
          if (k)
            element = AppendSection(*array);
          build(s, element.get(), child.sections[k]);
        }
        break;
      }
      case kTagValuesArray: {
        auto array = boost::make_shared<CSValuesArray>(child.kind);
        for (const auto& value : child.values)
          array->append(boost::make_shared<CMemoryObjectEx>(view(value)));
        ASSERT_TRUE(SetEntry(s, name, array, section));
        break;
      }
    }
  }
}

void expect_same(const ISSectionEntry& entry, const model_t& m, const std::string& path);

void expect_same_section(const CSSection& section, const model_t& m, const std::string& path) {
  std::vector<std::size_t> order(m.names.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::sort(order.begin(), order.end(),
            [&m](std::size_t a, std::size_t b) { return m.names[a] < m.names[b]; });
  ASSERT_EQ(section.count(), order.size()) << path;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const auto& [name, entry] = section.entries()[i];
    ASSERT_EQ(name, m.names[order[i]]) << path;
    expect_same(*entry, m.children[order[i]], path + "/" + name);
  }
}

void expect_same(const ISSectionEntry& entry, const model_t& m, const std::string& path) {
  ASSERT_EQ(entry.type(), m.tag) << path;
  switch (m.tag) {
    case kTagSection:
      expect_same_section(static_cast<const CSSection&>(entry), m, path);
      break;
    case kTagValue: {
      const auto& value = static_cast<const CSValue&>(entry);
      EXPECT_EQ(value.kind(), m.kind) << path;
      EXPECT_EQ(storetest::bytes_of(value.payload()), m.payload) << path;
      break;
    }
    case kTagSectionsArray: {
      const auto& array = static_cast<const CSSectionsArray&>(entry);
      ASSERT_EQ(array.count(), m.sections.size()) << path;
      for (std::size_t i = 0; i < m.sections.size(); ++i)
        expect_same_section(*array.elements()[i], m.sections[i],
                            path + "[" + std::to_string(i) + "]");
      break;
    }
    case kTagValuesArray: {
      const auto& array = static_cast<const CSValuesArray&>(entry);
      EXPECT_EQ(array.kind(), m.kind) << path;
      ASSERT_EQ(array.count(), m.values.size()) << path;
      for (std::size_t i = 0; i < m.values.size(); ++i)
        EXPECT_EQ(storetest::bytes_of(*array.elements()[i]), m.values[i])
            << path << "[" << i << "]";
      break;
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
