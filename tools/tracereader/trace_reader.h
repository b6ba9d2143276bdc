// Reads ".trc3" trace files: the text header, then the records with their
// enciphered payloads. Decoding is incremental so that a file still being
// written can be followed; damage stops decoding at the first bad record and
// everything before it is kept. Memory stays proportional to the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tracereader {

// The first header line of every trace file.
inline constexpr std::string_view kTraceMagic = "trace3";
// A header that has not reached its "." line after this many bytes is damaged.
inline constexpr std::size_t kMaxHeaderSize = 64 * 1024;
// Function names kept per thread; deeper calls are counted but not named.
inline constexpr std::size_t kMaxTrackedDepth = 4096;

// Immutable text shared between entries (a function name, the current date), so
// that thousands of entries inside one long-named function cost one copy.
class SharedText {
 public:
  SharedText() = default;
  explicit SharedText(std::string text)
      : text_(std::make_shared<const std::string>(std::move(text))) {}

  const std::string& str() const { return text_ ? *text_ : empty_string(); }
  std::string_view view() const { return str(); }
  bool empty() const { return str().empty(); }

  friend bool operator==(const SharedText& a, std::string_view b) { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const SharedText& t) { return out << t.str(); }

 private:
  static const std::string& empty_string() {
    static const std::string empty;
    return empty;
  }
  std::shared_ptr<const std::string> text_;
};

// Oddities that do not stop decoding; they are attached to the entry.
enum class Anomaly : std::uint8_t {
  none,
  leave_without_enter,  // '<' while the thread has no function entered
  leave_with_text,      // '<' carrying a payload
  depth_limit,          // '>' beyond kMaxTrackedDepth; the name is not tracked
};
const char* describe(Anomaly anomaly);

// One decoded record with the state in force when it was written.
struct TraceEntry {
  std::uint64_t offset = 0;  // of the record in the file
  std::uint32_t thread_id = 0;
  char type = 0;     // '>', '<', 'U', 'E', 't', 'T', 'N' or 'D'
  std::string text;  // the deciphered payload, valid UTF-8
  SharedText date;   // last 't' text; empty before the first one
  SharedText time;   // last 'T' text; empty before the first one
  // Calls open on the thread; for '>' before entering, for '<' after leaving,
  // so both ends of a call show the same depth.
  std::uint32_t depth = 0;
  // '>': the entered function; '<': the function left; otherwise the innermost
  // open function of the thread. Empty when the thread has none (or it is untracked).
  SharedText function;
  Anomaly anomaly = Anomaly::none;
};

enum class FailureKind : std::uint8_t { bad_header, truncated, corrupt };

// Why decoding stopped; offset is where the damage starts.
struct DecodeFailure {
  FailureKind kind = FailureKind::corrupt;
  std::uint64_t offset = 0;
  std::string reason;

  // For example "corrupt record at offset 1234: unknown record type 0x9f".
  std::string message() const;
};

enum class HeaderStatus : std::uint8_t { complete, incomplete, invalid };

struct HeaderParse {
  HeaderStatus status = HeaderStatus::incomplete;
  std::vector<std::string> lines;  // every line before the "." line, CR LF removed
  std::size_t size = 0;            // bytes through the "." line's CR LF (when complete)
  std::uint64_t error_offset = 0;  // when invalid
  std::string error;               // when invalid
};

// Parses the header at the start of a file. "incomplete" means the data ends
// before the "." line: the caller decides whether more can still arrive.
HeaderParse parse_header(std::span<const std::uint8_t> data);

// Incremental decoder: feed it the file's bytes in order, in chunks of any size.
class TraceDecoder {
 public:
  TraceDecoder();
  ~TraceDecoder();
  TraceDecoder(const TraceDecoder&) = delete;
  TraceDecoder& operator=(const TraceDecoder&) = delete;

  // Decodes every record completed by these bytes. A record cut by the end of
  // the bytes waits for the next call. Does nothing once decoding has failed.
  std::vector<TraceEntry> feed(std::span<const std::uint8_t> bytes);
  // The input has ended for good: a partial header or record becomes a failure.
  void finish();

  bool header_complete() const { return header_done_; }
  // Lines parsed so far (all of them once header_complete()).
  const std::vector<std::string>& header_lines() const { return header_lines_; }
  const std::optional<DecodeFailure>& failure() const { return failure_; }
  // File offset of the first byte not yet decoded.
  std::uint64_t offset() const { return base_offset_; }
  // Bytes held back waiting for the rest of their record or of the header.
  std::size_t pending_bytes() const { return buffer_.size(); }
  std::uint64_t anomaly_count() const { return anomalies_; }

 private:
  struct ThreadState {
    std::vector<SharedText> calls;  // open functions, innermost last
    std::uint32_t untracked = 0;    // calls beyond kMaxTrackedDepth
    std::uint32_t depth() const { return static_cast<std::uint32_t>(calls.size()) + untracked; }
  };

  std::size_t decode_records(std::span<const std::uint8_t> data, std::vector<TraceEntry>& out);
  void apply(TraceEntry& entry);
  void fail(FailureKind kind, std::uint64_t offset, std::string reason);

  // Bytes not yet decoded: the whole file so far while the header is read, then
  // at most one unfinished record.
  std::vector<std::uint8_t> buffer_;
  std::uint64_t base_offset_ = 0;  // file offset of buffer_[0]
  bool header_done_ = false;
  std::size_t header_line_start_ = 0;  // start of the header line being read
  std::size_t header_checked_ = 0;     // bytes of the header already checked
  std::vector<std::string> header_lines_;
  std::optional<DecodeFailure> failure_;
  std::unordered_map<std::uint32_t, ThreadState> threads_;
  SharedText date_;
  SharedText time_;
  std::uint64_t anomalies_ = 0;
};

// A whole buffer decoded at once.
struct TraceFile {
  std::vector<std::string> header;
  bool header_complete = false;
  std::vector<TraceEntry> entries;
  std::optional<DecodeFailure> failure;
  std::size_t pending_bytes = 0;  // an unfinished record at the end, when may_grow
};

// Decodes a file's contents. With may_grow the file may still be written, so an
// unfinished header or record at the end is pending rather than truncated.
TraceFile decode_trace(std::span<const std::uint8_t> data, bool may_grow);

struct FilterOptions {
  bool errors_only = false;             // only 'E' records
  std::optional<std::uint32_t> thread;  // only this thread
  std::optional<std::string> function;  // only calls of this function and what they call
  bool show_clock_records = false;      // keep the 't' and 'T' records themselves
};

// Selects entries; it follows call scopes, so give it every entry in file order.
class EntryFilter {
 public:
  explicit EntryFilter(FilterOptions options);
  bool accept(const TraceEntry& entry);

 private:
  FilterOptions options_;
  // Threads inside a call of the selected function: the depth of that call.
  std::unordered_map<std::uint32_t, std::uint32_t> inside_;
};

// Deeper calls are indented as this many levels and show their depth instead.
inline constexpr std::uint32_t kMaxIndentLevels = 64;

// One line (no line break) per entry, for example
//   0x0010 12/06/26 10:00:00.123   CFoo::Bar  U  hello
// thread, date, time, two spaces of indentation per call level, the function
// ("-" for none), the record type and the text. Control characters are escaped.
std::string format_entry(const TraceEntry& entry);

// The text with control characters, C1 controls and bytes that are not UTF-8
// escaped (\n, \t, \xHH, \u0085), safe to print on one terminal line.
std::string printable(std::string_view text);

}  // namespace tracereader
