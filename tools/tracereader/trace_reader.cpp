#include "tools/tracereader/trace_reader.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "tracing/portable/trace_cipher.h"
#include "tracing/portable/trace_record.h"

namespace tracereader {
namespace {

constexpr std::size_t kNoError = std::numeric_limits<std::size_t>::max();

// Two lowercase hex digits.
std::string hex2(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
  return text;
}

std::string hex_byte(unsigned value) {
  return "0x" + hex2(value);
}

bool is_record_type(std::uint8_t type) {
  switch (type) {
    case '>':
    case '<':
    case 'U':
    case 'E':
    case 't':
    case 'T':
    case 'N':
    case 'D':
      return true;
    default:
      return false;
  }
}

// Decodes the UTF-8 sequence at text[pos]; false for anything but a shortest
// form encoding of a scalar value (no surrogates, nothing above U+10FFFF).
bool decode_utf8(std::string_view text, std::size_t pos, std::uint32_t& code, std::size_t& length) {
  const auto lead = static_cast<std::uint8_t>(text[pos]);
  if (lead < 0x80) {
    code = lead;
    length = 1;
    return true;
  }
  std::uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
    minimum = 0x10000;
  } else {
    return false;
  }
  if (text.size() - pos < length)
    return false;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<std::uint8_t>(text[pos + i]);
    if ((next & 0xC0u) != 0x80u)
      return false;
    code = (code << 6) | (next & 0x3Fu);
  }
  return code >= minimum && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
}

std::size_t find_invalid_utf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::uint32_t code;
    std::size_t length;
    if (!decode_utf8(text, pos, code, length))
      return pos;
    pos += length;
  }
  return kNoError;
}

struct HeaderScan {
  HeaderStatus status = HeaderStatus::incomplete;
  std::size_t size = 0;
  std::size_t error_offset = 0;
  std::string error;
};

// Splits the complete header lines of data (the file from its first byte) that
// lie past line_start. Resumable: line_start and checked carry the progress, so
// feeding a long header in small pieces stays linear.
HeaderScan scan_header(std::span<const std::uint8_t> data,
                       std::size_t& line_start,
                       std::size_t& checked,
                       std::vector<std::string>& lines) {
  HeaderScan scan;
  auto invalid = [&](std::size_t offset, std::string why) {
    scan.status = HeaderStatus::invalid;
    scan.error_offset = offset;
    scan.error = std::move(why);
    return scan;
  };
  auto line_name = [&] { return "header line " + std::to_string(lines.size() + 1); };

  // The first line must be the magic; check it as soon as its bytes arrive so
  // that any other file is turned away at once.
  const std::size_t first_line_size = kTraceMagic.size() + 2;
  for (std::size_t i = checked; i < std::min(data.size(), first_line_size); ++i) {
    const char expected = i < kTraceMagic.size() ? kTraceMagic[i] : "\r\n"[i - kTraceMagic.size()];
    if (data[i] != static_cast<std::uint8_t>(expected))
      return invalid(i, "not a trace file: the first line is not \"trace3\"");
  }

  const std::size_t end = std::min(data.size(), kMaxHeaderSize);
  for (std::size_t i = checked; i < end; ++i) {
    const std::uint8_t c = data[i];
    if (c == '\r') {
      if (i + 1 == data.size()) {
        checked = i;  // the LF may still come
        return scan;
      }
      if (data[i + 1] != '\n')
        return invalid(i, line_name() + " has a CR without LF");
      std::string line(reinterpret_cast<const char*>(data.data()) + line_start, i - line_start);
      line_start = i + 2;
      checked = i + 1;  // the loop steps over the LF
      ++i;
      if (line == ".") {
        scan.status = HeaderStatus::complete;
        scan.size = line_start;
        return scan;
      }
      lines.push_back(std::move(line));
    } else if (c == '\n') {
      return invalid(i, line_name() + " ends in LF without CR");
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
      return invalid(i, "control byte " + hex_byte(c) + " in " + line_name());
    }
  }
  checked = std::max(checked, end);
  if (data.size() >= kMaxHeaderSize) {
    return invalid(kMaxHeaderSize, "no \".\" line ends the header within its first " +
                                       std::to_string(kMaxHeaderSize) + " bytes");
  }
  return scan;
}

std::uint32_t read_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

const char* describe(Anomaly anomaly) {
  switch (anomaly) {
    case Anomaly::none:
      return "";
    case Anomaly::leave_without_enter:
      return "function left but none was entered on this thread";
    case Anomaly::leave_with_text:
      return "function-left record carries text";
    case Anomaly::depth_limit:
      return "call depth limit reached; this call is counted but not named";
  }
  return "";
}

std::string DecodeFailure::message() const {
  const char* what = "corrupt record";
  if (kind == FailureKind::bad_header)
    what = "invalid header";
  else if (kind == FailureKind::truncated)
    what = "truncated";
  return std::string(what) + " at offset " + std::to_string(offset) + ": " + reason;
}

HeaderParse parse_header(std::span<const std::uint8_t> data) {
  HeaderParse result;
  std::size_t line_start = 0;
  std::size_t checked = 0;
  HeaderScan scan = scan_header(data, line_start, checked, result.lines);
  result.status = scan.status;
  result.size = scan.size;
  result.error_offset = scan.error_offset;
  result.error = std::move(scan.error);
  return result;
}

TraceDecoder::TraceDecoder() = default;
TraceDecoder::~TraceDecoder() = default;

void TraceDecoder::fail(FailureKind kind, std::uint64_t offset, std::string reason) {
  failure_ = DecodeFailure{kind, offset, std::move(reason)};
  buffer_.clear();
  buffer_.shrink_to_fit();
  threads_.clear();
}

std::vector<TraceEntry> TraceDecoder::feed(std::span<const std::uint8_t> bytes) {
  std::vector<TraceEntry> out;
  if (failure_)
    return out;
  // With nothing held back, decode straight from the caller's bytes.
  std::span<const std::uint8_t> data = bytes;
  if (!buffer_.empty()) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    data = buffer_;
  }
  if (!header_done_) {
    HeaderScan scan = scan_header(data, header_line_start_, header_checked_, header_lines_);
    if (scan.status == HeaderStatus::invalid) {
      fail(FailureKind::bad_header, scan.error_offset, std::move(scan.error));
      return out;
    }
    if (scan.status == HeaderStatus::incomplete) {
      if (buffer_.empty())
        buffer_.assign(bytes.begin(), bytes.end());
      return out;
    }
    header_done_ = true;
    base_offset_ = scan.size;
    data = data.subspan(scan.size);
  }
  const std::size_t used = decode_records(data, out);
  if (!failure_) {
    base_offset_ += used;
    std::vector<std::uint8_t> tail(data.begin() + static_cast<std::ptrdiff_t>(used), data.end());
    buffer_.swap(tail);  // data may point into buffer_: copy the tail first
  }
  return out;
}

void TraceDecoder::finish() {
  if (failure_)
    return;
  if (!header_done_) {
    fail(FailureKind::truncated, header_line_start_,
         buffer_.empty() ? "the file is empty" : "the header ends before its \".\" line");
    return;
  }
  const std::size_t left = buffer_.size();
  if (left == 0)
    return;
  if (left < tracecore::kRecordHeaderSize) {
    fail(FailureKind::truncated, base_offset_,
         "the record's first " + std::to_string(left) + " of " +
             std::to_string(tracecore::kRecordHeaderSize) + " header bytes end the file");
    return;
  }
  const std::size_t length = buffer_[5] | static_cast<std::size_t>(buffer_[6]) << 8;
  fail(FailureKind::truncated, base_offset_,
       "the payload of " + std::to_string(length) + " bytes runs past the end of the file (" +
           std::to_string(left - tracecore::kRecordHeaderSize) + " bytes remain)");
}

std::size_t TraceDecoder::decode_records(std::span<const std::uint8_t> data,
                                         std::vector<TraceEntry>& out) {
  std::size_t pos = 0;
  while (data.size() - pos >= tracecore::kRecordHeaderSize) {
    const std::uint8_t* record = data.data() + pos;
    const std::uint64_t offset = base_offset_ + pos;
    if (!is_record_type(record[4])) {
      fail(FailureKind::corrupt, offset, "unknown record type " + hex_byte(record[4]));
      return pos;
    }
    const std::size_t length = record[5] | static_cast<std::size_t>(record[6]) << 8;
    if (data.size() - pos - tracecore::kRecordHeaderSize < length)
      break;  // the rest of the payload has not arrived yet

    TraceEntry entry;
    entry.offset = offset;
    entry.thread_id = read_u32(record);
    entry.type = static_cast<char>(record[4]);
    entry.text.assign(reinterpret_cast<const char*>(record + tracecore::kRecordHeaderSize), length);
    if (length != 0)
      tracecore::apply_trace_keystream(reinterpret_cast<std::uint8_t*>(entry.text.data()), length);
    const std::size_t bad = find_invalid_utf8(entry.text);
    if (bad != kNoError) {
      fail(FailureKind::corrupt, offset,
           "invalid UTF-8 in the payload (byte " +
               hex_byte(static_cast<std::uint8_t>(entry.text[bad])) + " at offset " +
               std::to_string(offset + tracecore::kRecordHeaderSize + bad) + ")");
      return pos;
    }
    apply(entry);
    out.push_back(std::move(entry));
    pos += tracecore::kRecordHeaderSize + length;
  }
  return pos;
}

void TraceDecoder::apply(TraceEntry& entry) {
  ThreadState& thread = threads_[entry.thread_id];
  switch (entry.type) {
    case '>':
      entry.depth = thread.depth();
      entry.function = SharedText(entry.text);
      if (thread.untracked == 0 && thread.calls.size() < kMaxTrackedDepth) {
        thread.calls.push_back(entry.function);
      } else {
        if (thread.untracked < std::numeric_limits<std::uint32_t>::max())
          ++thread.untracked;
        entry.anomaly = Anomaly::depth_limit;
      }
      break;
    case '<':
      if (thread.untracked != 0) {
        --thread.untracked;
      } else if (!thread.calls.empty()) {
        entry.function = std::move(thread.calls.back());
        thread.calls.pop_back();
      } else {
        entry.anomaly = Anomaly::leave_without_enter;
      }
      entry.depth = thread.depth();
      if (!entry.text.empty() && entry.anomaly == Anomaly::none)
        entry.anomaly = Anomaly::leave_with_text;
      break;
    default:
      if (entry.type == 't')
        date_ = SharedText(entry.text);
      else if (entry.type == 'T')
        time_ = SharedText(entry.text);
      entry.depth = thread.depth();
      if (thread.untracked == 0 && !thread.calls.empty())
        entry.function = thread.calls.back();
      break;
  }
  entry.date = date_;
  entry.time = time_;
  if (entry.anomaly != Anomaly::none)
    ++anomalies_;
  if (thread.calls.empty() && thread.untracked == 0)
    threads_.erase(entry.thread_id);
}

TraceFile decode_trace(std::span<const std::uint8_t> data, bool may_grow) {
  TraceDecoder decoder;
  TraceFile file;
  file.entries = decoder.feed(data);
  if (!may_grow)
    decoder.finish();
  file.header = decoder.header_lines();
  file.header_complete = decoder.header_complete();
  file.failure = decoder.failure();
  file.pending_bytes = decoder.pending_bytes();
  return file;
}

EntryFilter::EntryFilter(FilterOptions options) : options_(std::move(options)) {}

bool EntryFilter::accept(const TraceEntry& entry) {
  if (options_.function) {
    // Scope tracking sees every entry, whatever the other conditions say.
    const auto inside = inside_.find(entry.thread_id);
    if (inside != inside_.end()) {
      if (entry.type == '<' && entry.depth == inside->second)
        inside_.erase(inside);
    } else if (entry.type == '>' && entry.function == *options_.function) {
      inside_.emplace(entry.thread_id, entry.depth);
    } else {
      return false;
    }
  }
  if (options_.thread && entry.thread_id != *options_.thread)
    return false;
  if (options_.errors_only && entry.type != 'E')
    return false;
  if (!options_.show_clock_records && (entry.type == 't' || entry.type == 'T'))
    return false;
  return true;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::uint32_t code;
    std::size_t length;
    if (!decode_utf8(text, pos, code, length)) {
      out += "\\x" + hex2(static_cast<std::uint8_t>(text[pos]));
      ++pos;
      continue;
    }
    if (code == '\n') {
      out += "\\n";
    } else if (code == '\r') {
      out += "\\r";
    } else if (code == '\t') {
      out += "\\t";
    } else if (code < 0x20 || code == 0x7F) {
      out += "\\x" + hex2(code);
    } else if (code >= 0x80 && code <= 0x9F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
      out += escaped;
    } else {
      out.append(text.substr(pos, length));
    }
    pos += length;
  }
  return out;
}

std::string format_entry(const TraceEntry& entry) {
  char thread[16];
  std::snprintf(thread, sizeof thread, "0x%04lx", static_cast<unsigned long>(entry.thread_id));
  std::string line = thread;
  line += ' ';
  line += entry.date.empty() ? "--/--/--" : printable(entry.date.view());
  line += ' ';
  line += entry.time.empty() ? "--:--:--.---" : printable(entry.time.view());
  line += ' ';
  line.append(2 * static_cast<std::size_t>(std::min(entry.depth, kMaxIndentLevels)), ' ');
  if (entry.depth > kMaxIndentLevels)
    line += "[depth " + std::to_string(entry.depth) + "] ";
  line += entry.function.empty() ? "-" : printable(entry.function.view());
  line += "  ";
  line += entry.type;
  // A '>' shows its text as the function already.
  if (entry.type != '>' && !entry.text.empty()) {
    line += "  ";
    line += printable(entry.text);
  }
  if (entry.anomaly != Anomaly::none) {
    line += "  [!] ";
    line += describe(entry.anomaly);
  }
  return line;
}

}  // namespace tracereader
