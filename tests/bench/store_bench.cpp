// Cost of named-storage images of a realistic profile list (1,000 records of
// six items), as ratios against copying the image's bytes, measured in the
// same run:
//   save:  Save of the list's tree into a fresh block (sizes, one allocation,
//          writing);
//   load:  Load of the image into a fresh storage (the whole tree built);
//   copy:  memcpy of the image into a buffer already in use (the floor), and
//          new[] + memcpy into a fresh buffer (what any copy into a new block
//          costs).
// Also counts the allocations Save makes (one expected: the image) and shows
// the record-level figures (records to image, image to records) for scale.
// Each figure is the median of single operations timed one by one. Prints;
// never fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "store/portable/profile_records.h"
#include "store/portable/storage_named.h"

namespace {

// The benchmark runs on one thread.
long g_allocations = 0;

}  // namespace

// Every heap allocation of the program is counted. (GCC cannot see that the
// replaced operator delete pairs with the replaced operator new.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using namespace serialization;
using namespace serialization::StorageNamed::InMemStorageSpace;

constexpr int kRecords = 1000;
constexpr int kItems = 6;
constexpr int kRounds = 41;  // operations timed one by one; the median counts

cvprofiles_t realistic_list(int records = kRecords) {
  static const wchar_t* const kFields[kItems][2] = {
      {L"User name", L"john.doe@example.com"},
      {L"Password", L"550-08-60 web.pw.0001"},
      {L"Remember me", L"1"},
      {L"Customer number", L"4711-0815-2342"},
      {L"Security answer", L"550-08-60 web.qa.0001"},
      {L"Language", L"English (United States)"},
  };
  static const char* const kDb[kItems] = {"username", "password", "remember",
                                          "customer", "answer",   "language"};
  cvprofiles_t list;
  for (int r = 0; r < records; ++r) {
    cvprofile_t record;
    record.operation = 1;
    record.profileindex = r;
    record.profilename = L"Account " + std::to_wstring(r) + L" at Example Bank";
    record.qlinkname = L"Example Bank online banking";
    record.submitprofile = r & 1;
    record.updatedate = "2024-05-01 12:00:00";
    record.formindex = r % 3;
    for (int i = 0; i < kItems; ++i) {
      cvprofileitem_t item;
      item.value_op = 1;
      item.displayname_op = 0;
      item.displayname = kFields[i][0];
      item.value = std::wstring(kFields[i][1]) + (i == 0 ? std::to_wstring(r) : L"");
      item.dbname = kDb[i];
      item.memid = i;
      record.items.push_back(std::move(item));
    }
    list.push_back(std::move(record));
  }
  return list;
}

// Median time of one operation, in nanoseconds (bench_timing.h).
template <typename... Steps>
double measure(Steps... steps) {
  return bench::median_ns(kRounds, steps...);
}

}  // namespace

int main() {
  const cvprofiles_t list = realistic_list();
  CInMemStorage tree;
  StoreProfiles(list, tree);
  CMemoryObjectEx image;
  const std::uint32_t size = Save(tree, image);
  if (size == 0) {
    std::printf("store_bench: Save failed\n");
    return 0;
  }

  // Baselines.
  std::vector<std::uint8_t> warm(size, 1);
  const double copy_ns = measure([] {},
                                 [&] {
                                   std::memcpy(warm.data(), image.data(), size);
                                   // Keep the copy observable.
                                   if (warm[size / 2] == 0xFF && warm[0] == 0xEE)
                                     std::puts("");
                                 },
                                 [] {});
  std::unique_ptr<std::uint8_t[]> fresh;
  const double alloc_copy_ns = measure([] {},
                                       [&] {
                                         fresh.reset(new std::uint8_t[size]);
                                         std::memcpy(fresh.get(), image.data(), size);
                                       },
                                       [&] { fresh.reset(); });

  // Save into a fresh block, dropped untimed.
  CMemoryObjectEx block;
  long save_allocations = -1;
  const double save_ns = measure([] {},
                                 [&] {
                                   const long before = g_allocations;
                                   Save(tree, block);
                                   save_allocations = g_allocations - before;
                                 },
                                 [&] { block.release(); });

  // The same without the allocation: sizes and writing into a buffer in use.
  const double write_ns =
      measure([] {}, [&] { WriteImage(tree, warm.data(), ImageSize(tree)); }, [] {});

  // Load into a fresh storage, dropped untimed; then the drop alone.
  std::unique_ptr<CInMemStorage> storage;
  long load_allocations = 0;
  const double load_ns = measure([&] { storage = std::make_unique<CInMemStorage>(); },
                                 [&] {
                                   const long before = g_allocations;
                                   Load(image, *storage);
                                   load_allocations = g_allocations - before;
                                 },
                                 [&] { storage.reset(); });
  const double drop_ns = measure(
      [&] {
        storage = std::make_unique<CInMemStorage>();
        Load(image, *storage);
      },
      [&] { storage.reset(); }, [] {});

  // Record level, for scale: records to image, image to records.
  const double records_to_image_ns =
      measure([] {}, [&] { SaveProfilesImage(list, block); }, [&] { block.release(); });
  cvprofiles_t loaded;
  const double image_to_records_ns =
      measure([] {}, [&] { LoadProfilesImage(image.data(), image.size(), loaded); },
              [&] { loaded.clear(); });

  CInMemStorage check;
  const bool same = Load(image, check) == size && Save(check, block) == size &&
                    std::memcmp(block.data(), image.data(), size) == 0;

  std::printf("store_bench: %d records of %d items, image %u bytes%s\n", kRecords, kItems, size,
              same ? "" : " (RELOADED IMAGE DIFFERS)");
  std::printf("  memcpy of the image: %.1f us; new[] + memcpy: %.1f us\n", copy_ns / 1000,
              alloc_copy_ns / 1000);
  std::printf("  Save: %.2f x memcpy (goal <= 8)   [%.1f us, %ld allocation(s)%s]\n",
              save_ns / copy_ns, save_ns / 1000, save_allocations,
              save_allocations == 1 ? "" : " - NOT ONE");
  std::printf("  Save: %.2f x new+memcpy (goal <= 8)\n", save_ns / alloc_copy_ns);
  std::printf("  sizes + writing, no allocation: %.2f x memcpy (goal <= 8)\n", write_ns / copy_ns);
  std::printf("  Load: %.2f x memcpy (goal <= 8)   [%.1f us, %ld allocations]\n", load_ns / copy_ns,
              load_ns / 1000, load_allocations);
  std::printf("  dropping the loaded tree: %.2f x memcpy (goal <= 8)\n", drop_ns / copy_ns);
  std::printf("  records -> image: %.2f x memcpy (goal <= 8)\n", records_to_image_ns / copy_ns);
  std::printf("  image -> records: %.2f x memcpy (goal <= 8)\n", image_to_records_ns / copy_ns);

  // Entries carved from chunks against one heap block each, on the sizes the
  // product exchanges (one to a few records) and on a large list. Warm: the
  // steady state of repeated loads; cold: no retired chunk kept from before.
  // The chunks pay their way where they take at most 1/1.5 of the heap's time.
  for (const int records : {1, 10, 1000}) {
    CInMemStorage source;
    StoreProfiles(realistic_list(records), source);
    CMemoryObjectEx bytes;
    const std::uint32_t length = Save(source, bytes);
    const auto timed_load = [&](load_placement_t placement, bool cold) {
      return measure(
          [&] {
            storage = std::make_unique<CInMemStorage>();
            if (cold)
              arena_chunk::clear_cache();
          },
          [&] { Load(bytes.data(), length, *storage, placement); }, [&] { storage.reset(); });
    };
    for (const bool cold : {false, true}) {
      const double heap_ns = timed_load(load_placement_t::heap, cold);
      const double chunks_ns = timed_load(load_placement_t::chunks, cold);
      std::printf("  load %4d record(s), %s, chunks: %.2f x heap load (goal <= 0.67)   [%.1f us]\n",
                  records, cold ? "cold" : "warm", chunks_ns / heap_ns, heap_ns / 1000);
    }
  }
  return 0;
}
