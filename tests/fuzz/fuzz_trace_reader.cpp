// Fuzzes the trace reader: header parsing, decoding the whole input at once and
// in pieces, filtering and formatting. Decoding in pieces must agree with
// decoding at once, whatever the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tools/tracereader/trace_reader.h"

namespace {

using fuzzcheck::check;

void filter_and_format(const std::vector<tracereader::TraceEntry>& entries) {
  tracereader::FilterOptions by_function;
  by_function.show_clock_records = true;
  tracereader::FilterOptions by_thread;
  by_thread.errors_only = true;
  for (const tracereader::TraceEntry& e : entries) {
    if (e.type == '>' && !by_function.function)
      by_function.function = e.text;
    if (!by_thread.thread)
      by_thread.thread = e.thread_id;
  }
  tracereader::EntryFilter filters[] = {tracereader::EntryFilter(by_function),
                                        tracereader::EntryFilter(by_thread),
                                        tracereader::EntryFilter(tracereader::FilterOptions{})};
  std::size_t total = 0;
  for (const tracereader::TraceEntry& e : entries) {
    for (tracereader::EntryFilter& filter : filters) {
      if (filter.accept(e))
        total += tracereader::format_entry(e).size();
    }
  }
  check(total != 1);  // keeps the formatting from being optimised away
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const tracereader::HeaderParse header = tracereader::parse_header(input);
  for (const std::string& line : header.lines)
    (void)tracereader::printable(line);

  const tracereader::TraceFile whole = tracereader::decode_trace(input, false);
  const tracereader::TraceFile growing = tracereader::decode_trace(input, true);
  check(header.status != tracereader::HeaderStatus::complete || whole.header == header.lines);
  check(growing.entries.size() == whole.entries.size());
  check(whole.pending_bytes == 0);

  // The same input in pieces whose sizes come from the input itself.
  tracereader::TraceDecoder decoder;
  std::size_t count = 0;
  for (std::size_t at = 0, i = 0; at < size; ++i) {
    const std::size_t piece = std::min<std::size_t>(size - at, 1 + data[i % size] % 97);
    for (const tracereader::TraceEntry& e : decoder.feed(input.subspan(at, piece))) {
      check(count < whole.entries.size());
      const tracereader::TraceEntry& expected = whole.entries[count++];
      check(e.offset == expected.offset && e.text == expected.text && e.depth == expected.depth &&
            e.function.view() == expected.function.view() && e.anomaly == expected.anomaly);
    }
    at += piece;
  }
  check(count == whole.entries.size());
  check(decoder.pending_bytes() == growing.pending_bytes);
  decoder.finish();
  check(decoder.failure().has_value() == whole.failure.has_value());
  if (whole.failure) {
    check(decoder.failure()->offset == whole.failure->offset);
    check(decoder.failure()->offset <= size);
    (void)whole.failure->message();
  }

  filter_and_format(whole.entries);
  return 0;
}
