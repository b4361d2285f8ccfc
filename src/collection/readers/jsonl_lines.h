#pragma once
// Building blocks shared by the readers of the tools' JSON and JSON-lines
// logs: finding the files below a folder, reading a file whole into a reused
// buffer that simdjson can parse in place, walking its lines without copying
// them, reading JSON numbers leniently, and fanning work out over a few
// threads without changing the result.
//
// Everything here is quiet: a folder or file that cannot be read simply
// yields nothing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

namespace brimvale::jsonl {

// ---------------------------------------------------------------------------
// Finding files

// Every non-folder entry below root, at any depth, whose path relative to
// root passes accept (for example "proj/abc.jsonl"). Returned as full paths
// (root + "/" + relative), sorted by the relative path's bytes: this sorted
// order is the order the readers visit files in, so "the last record read
// wins" always means the same record.
//
// The root itself may be a symbolic link to a folder; links to folders below
// it are not followed (no loops, no escaping the tree), links to files are
// listed and resolved when read. Subfolders that cannot be opened are
// skipped. A missing or unreadable root gives an empty list.
std::vector<std::string> findFiles(const std::string& root,
                                   const std::function<bool(std::string_view relative)>& accept);

// True when text ends in suffix (case-sensitive).
inline bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// ---------------------------------------------------------------------------
// Reading files

// A reusable read buffer with simdjson::SIMDJSON_PADDING bytes after its
// content, so any slice of the content can be handed to a simdjson parser
// without a copy (padded()). The allocation only grows; keep one buffer per
// thread and reuse it.
//
// Both readers accept only regular files (symbolic links followed) and
// return false when the file cannot be opened, is not a regular file
// (folder, FIFO, device) or a read fails.
class FileBuffer {
 public:
  FileBuffer() = default;
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;
  FileBuffer(FileBuffer&&) = default;
  FileBuffer& operator=(FileBuffer&&) = default;

  // Replaces the content with the whole file, for formats that hold one
  // document per file. A file that changes while it is read gives whatever
  // bytes were read up to its size when it was opened.
  bool read(const std::string& path);

  // For line formats: reads the file once, front to back, in pieces of about
  // kPieceSize bytes that each end just after a line feed (the last piece
  // ends at the end of the file, so a last line without a final line feed
  // is delivered too), and calls f(piece) for each in order. Every line lies
  // wholly inside one piece; a line longer than the buffer grows it. The
  // buffer stays small and hot in the cache whatever the file's size.
  // Pieces already delivered stay delivered when a later read fails.
  static constexpr size_t kPieceSize = size_t(1) << 20;
  bool readPieces(const std::string& path, const std::function<void(std::string_view piece)>& f);

  // The current content (all of it after read(), the current piece and what
  // follows it during readPieces()).
  std::string_view text() const { return {data_.get(), size_}; }

  // A simdjson view of part, which must lie inside text(): the bytes after it
  // (the rest of the content, then the padding) serve as its padding.
  simdjson::padded_string_view padded(std::string_view part) const;

  size_t capacity() const { return capacity_; }

 private:
  bool reserve(size_t size, bool keep);

  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;  // usable bytes, not counting the padding
};

// True when text is valid UTF-8 (simdjson's validator).
bool validUTF8(std::string_view text);

// ---------------------------------------------------------------------------
// Lines

// Calls f(line) for every line of text in order. Lines are the parts between
// line feeds; empty parts are dropped, a last line without a final line feed
// is included. A carriage return before a line feed stays in the line (JSON
// parsers treat it as white space).
template <typename F>
void forEachLine(std::string_view text, F&& f) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
    const char* lineEnd = nl ? static_cast<const char*>(nl) : end;
    if (lineEnd > p) f(std::string_view(p, static_cast<size_t>(lineEnd - p)));
    p = lineEnd + 1;
  }
}

// Calls f(line), in order, for exactly those lines of forEachLine(text) that
// contain at least one of the needles (which must be non-empty and may not
// contain a line feed). Lines without a needle are never delimited at all:
// the search jumps from one occurrence to the next (a vectorised substring
// search), which makes a raw-byte prefilter almost free on large files whose
// counting lines are rare.
// The position of the first occurrence of needle in text, or npos.
size_t findSubstring(std::string_view text, std::string_view needle);

void forEachLineContaining(std::string_view text, std::initializer_list<std::string_view> needles,
                           const std::function<void(std::string_view line)>& f);

// ---------------------------------------------------------------------------
// Lenient JSON values

// The value of a JSON number that holds an integral value representable as a
// signed 64-bit integer (12 and 12.0 give 12); none for a fraction (12.5), a
// number out of range, a string (also "12"), a Boolean, null, an array or an
// object. Never throws; the value is consumed only when it is a number.
std::optional<int64_t> integralValue(simdjson::ondemand::value value);
std::optional<int64_t> integralValue(simdjson::dom::element value);

// The integral value, or 0 when there is none (a fraction, a string, null,
// any other type).
inline int64_t countValue(simdjson::ondemand::value value) {
  return integralValue(value).value_or(0);
}
inline int64_t countValue(simdjson::dom::element value) {
  return integralValue(value).value_or(0);
}

// Any JSON number (integral or not) as a double; none for every other type.
std::optional<double> numberValue(simdjson::ondemand::value value);
std::optional<double> numberValue(simdjson::dom::element value);

// The string a JSON value holds (unescaped, valid until the parser is used
// again); none for every other type.
std::optional<std::string_view> stringValue(simdjson::ondemand::value value);
std::optional<std::string_view> stringValue(simdjson::dom::element value);

// True when an on-demand document has been read to its end: call it after
// walking the root value to reject a line with bytes after its JSON value.
inline bool atEnd(simdjson::ondemand::document& doc) {
  return doc.current_location().error() == simdjson::OUT_OF_BOUNDS;
}

// a + b, none when it overflows a signed 64-bit integer.
inline std::optional<int64_t> checkedAdd(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
  return r;
}
inline std::optional<int64_t> checkedSum(std::initializer_list<int64_t> values) {
  int64_t r = 0;
  for (int64_t v : values)
    if (__builtin_add_overflow(r, v, &r)) return std::nullopt;
  return r;
}

// ---------------------------------------------------------------------------
// Threads

// The number of worker threads the readers use: the CPUs this process may
// run on, at most 8.
size_t workerCount();

// Runs f(index, worker) for every index in [0, count) on up to `workers`
// threads (the caller's thread included). Each index runs exactly once;
// worker is in [0, workers) and no two calls with the same worker run at the
// same time, so per-worker scratch state (a FileBuffer, a parser) needs no
// lock. Results must be written per index and combined afterwards in index
// order; that keeps the outcome identical to a sequential loop.
void parallelFor(size_t count, size_t workers, const std::function<void(size_t index, size_t worker)>& f);

// The indices of sizes, largest first (ties in index order): handing the
// big files out first keeps one late large file from leaving the other
// threads idle at the end.
std::vector<size_t> largestFirst(const std::vector<uint64_t>& sizes);

// The size of each file (0 when it cannot be read), following links.
std::vector<uint64_t> fileSizes(const std::vector<std::string>& paths);

}  // namespace brimvale::jsonl
