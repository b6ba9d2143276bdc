// cvtrace: prints a trace file one record per line, optionally following it
// while the traced program keeps writing.
#include <charconv>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tools/tracereader/trace_reader.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitCannotRead = 1;  // bad command line, missing or unreadable file
constexpr int kExitDamaged = 2;     // the file is truncated, corrupt or not a trace file

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr auto kFollowInterval = std::chrono::milliseconds(500);

constexpr const char* kUsage =
    "usage: cvtrace [--errors] [--thread ID] [--function NAME] [--header] [--raw] [--follow] FILE\n"
    "  --errors         only error records\n"
    "  --thread ID      only this thread (decimal, or hex with 0x)\n"
    "  --function NAME  only calls of NAME and everything they call\n"
    "  --header         print the header lines first\n"
    "  --raw            also print the date and time records\n"
    "  --follow         keep reading as the file grows (stop with Ctrl+C)\n";

struct Options {
  tracereader::FilterOptions filter;
  bool header = false;
  bool follow = false;
  std::string path;
};

std::optional<std::uint32_t> parse_thread_id(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty())
    return std::nullopt;
  return id;
}

// Returns the options, or an error message (empty for --help).
std::optional<Options> parse_arguments(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--errors") {
      options.filter.errors_only = true;
    } else if (arg == "--header") {
      options.header = true;
    } else if (arg == "--raw") {
      options.filter.show_clock_records = true;
    } else if (arg == "--follow") {
      options.follow = true;
    } else if (arg == "--thread" && has_value) {
      options.filter.thread = parse_thread_id(argv[++i]);
      if (!options.filter.thread) {
        error = "invalid thread id: " + std::string(argv[i]);
        return std::nullopt;
      }
    } else if (arg == "--function" && has_value) {
      options.filter.function = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      error.clear();
      return std::nullopt;
    } else if (arg.starts_with("-") && arg != "-") {
      error = "unknown option or missing value: " + std::string(arg);
      return std::nullopt;
    } else if (options.path.empty()) {
      options.path = arg;
    } else {
      error = "only one file can be read";
      return std::nullopt;
    }
  }
  if (options.path.empty()) {
    error = "no file given";
    return std::nullopt;
  }
  return options;
}

class TraceReaderTool {
 public:
  explicit TraceReaderTool(Options options) : options_(std::move(options)) { restart(); }

  int run() {
    std::ifstream in(options_.path, std::ios::binary);
    if (!in) {
      std::cerr << "cvtrace: " << options_.path << ": cannot open the file\n";
      return kExitCannotRead;
    }
    std::vector<char> chunk(kChunkSize);
    for (;;) {
      if (!read_available(in, chunk))
        return kExitCannotRead;
      if (decoder_->failure())
        break;
      if (!options_.follow) {
        decoder_->finish();
        break;
      }
      std::cout.flush();
      std::this_thread::sleep_for(kFollowInterval);
      reopen(in);
    }
    std::cout.flush();
    if (decoder_->anomaly_count() != 0) {
      std::cerr << "cvtrace: " << options_.path << ": " << decoder_->anomaly_count()
                << " unexpected record(s), marked [!]\n";
    }
    if (const auto& failure = decoder_->failure()) {
      std::cerr << "cvtrace: " << options_.path << ": " << failure->message() << '\n';
      return kExitDamaged;
    }
    return kExitOk;
  }

 private:
  void restart() {
    decoder_.emplace();
    filter_.emplace(options_.filter);
    position_ = 0;
    header_printed_ = false;
  }

  // Decodes and prints whatever the file holds now; false on a read error.
  bool read_available(std::ifstream& in, std::vector<char>& chunk) {
    while (in && !decoder_->failure()) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      const auto got = static_cast<std::size_t>(in.gcount());
      if (got == 0)
        break;
      position_ += got;
      print(decoder_->feed(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), got)));
    }
    if (in.bad()) {
      std::cerr << "cvtrace: " << options_.path << ": read error\n";
      return false;
    }
    return true;
  }

  // Opens the file again at the first unread byte; it may have been replaced or
  // cut back, and then it is read again from the start.
  void reopen(std::ifstream& in) {
    in.close();
    in.clear();
    in.open(options_.path, std::ios::binary);
    if (!in)
      return;  // gone for the moment: try again at the next poll
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(in.tellg());
    if (size < position_) {
      std::cout.flush();
      std::cerr << "cvtrace: " << options_.path << ": the file got shorter; reading it again\n";
      restart();
    }
    in.seekg(static_cast<std::streamoff>(position_));
  }

  void print(const std::vector<tracereader::TraceEntry>& entries) {
    if (options_.header && !header_printed_ && decoder_->header_complete()) {
      for (const std::string& line : decoder_->header_lines())
        std::cout << tracereader::printable(line) << '\n';
      std::cout << '\n';
      header_printed_ = true;
    }
    for (const tracereader::TraceEntry& entry : entries) {
      if (filter_->accept(entry))
        std::cout << tracereader::format_entry(entry) << '\n';
    }
  }

  Options options_;
  std::optional<tracereader::TraceDecoder> decoder_;
  std::optional<tracereader::EntryFilter> filter_;
  std::uint64_t position_ = 0;  // bytes of the file read so far
  bool header_printed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::string error;
  std::optional<Options> options = parse_arguments(argc, argv, error);
  if (!options) {
    if (error.empty()) {
      std::cout << kUsage;
      return kExitOk;
    }
    std::cerr << "cvtrace: " << error << '\n' << kUsage;
    return kExitCannotRead;
  }
  return TraceReaderTool(std::move(*options)).run();
}
