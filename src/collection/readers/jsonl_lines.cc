#include "collection/readers/jsonl_lines.h"

#include <dirent.h>
#include <sched.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <exception>
#include <mutex>
#include <thread>

namespace brimvale::jsonl {

namespace ondemand = simdjson::ondemand;
namespace dom = simdjson::dom;

// ---------------------------------------------------------------------------
// Finding files

std::vector<std::string> findFiles(const std::string& root,
                                   const std::function<bool(std::string_view)>& accept) {
  std::vector<std::string> relatives;
  if (root.empty()) return {};
  // Folders still to list, relative to root ("" is root itself).
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    std::string rel = std::move(pending.back());
    pending.pop_back();
    std::string dirPath = rel.empty() ? root : root + "/" + rel;
    DIR* dir = opendir(dirPath.c_str());
    if (!dir) continue;
    while (dirent* entry = readdir(dir)) {
      std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string child = rel.empty() ? std::string(name) : rel + "/" + std::string(name);
      unsigned char type = entry->d_type;
      if (type == DT_UNKNOWN) {
        struct stat st{};
        std::string full = root + "/" + child;
        if (lstat(full.c_str(), &st) != 0) continue;
        type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
      }
      if (type == DT_DIR) {
        pending.push_back(std::move(child));
      } else if (accept(child)) {
        relatives.push_back(std::move(child));
      }
    }
    closedir(dir);
  }
  std::sort(relatives.begin(), relatives.end());
  std::vector<std::string> full;
  full.reserve(relatives.size());
  for (auto& rel : relatives) full.push_back(root + "/" + rel);
  return full;
}

// ---------------------------------------------------------------------------
// Reading files

bool FileBuffer::reserve(size_t size, bool keep) {
  if (size <= capacity_ && data_) return true;
  // Round up to 64 KiB so files of similar size share one allocation.
  size_t rounded = (size + 0xFFFF) & ~size_t(0xFFFF);
  std::unique_ptr<char[]> fresh(new (std::nothrow) char[rounded + simdjson::SIMDJSON_PADDING]);
  if (!fresh) return false;
  if (keep && data_) std::memcpy(fresh.get(), data_.get(), size_);
  data_ = std::move(fresh);
  capacity_ = rounded;
  return true;
}

namespace {

// Opens a regular file for reading; -1 for anything else. O_NONBLOCK keeps a
// FIFO named like a log from blocking the refresh.
int openRegular(const std::string& path, struct stat& st) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

ssize_t readSome(int fd, char* into, size_t count) {
  while (true) {
    ssize_t n = ::read(fd, into, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace

bool FileBuffer::read(const std::string& path) {
  size_ = 0;
  struct stat st{};
  int fd = openRegular(path, st);
  if (fd < 0) return false;
  size_t want = static_cast<size_t>(st.st_size);
  if (!reserve(want, false)) {
    ::close(fd);
    return false;
  }
  size_t got = 0;
  bool ok = true;
  while (got < want) {
    ssize_t n = readSome(fd, data_.get() + got, want - got);
    if (n < 0) ok = false;
    if (n <= 0) break;  // an error, or the file shrank while we read it
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  size_ = ok ? got : 0;
  std::memset(data_.get() + size_, 0, simdjson::SIMDJSON_PADDING);
  return ok;
}

bool FileBuffer::readPieces(const std::string& path, const std::function<void(std::string_view)>& f) {
  size_ = 0;
  struct stat st{};
  int fd = openRegular(path, st);
  if (fd < 0) return false;
  if (!reserve(kPieceSize, false)) {
    ::close(fd);
    return false;
  }
  size_t kept = 0;  // bytes of an unfinished line at the start of the buffer
  bool ok = true;
  while (true) {
    if (kept == capacity_ && !reserve(capacity_ * 2, true)) {
      ok = false;  // a line too long to hold
      break;
    }
    ssize_t n = readSome(fd, data_.get() + kept, capacity_ - kept);
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) {
      if (kept > 0) {  // the last line, without a final line feed
        size_ = kept;
        std::memset(data_.get() + size_, 0, simdjson::SIMDJSON_PADDING);
        f(std::string_view(data_.get(), kept));
      }
      break;
    }
    size_t total = kept + static_cast<size_t>(n);
    size_ = total;
    std::memset(data_.get() + total, 0, simdjson::SIMDJSON_PADDING);
    const void* nl = memrchr(data_.get() + kept, '\n', total - kept);
    if (!nl) {
      kept = total;
      continue;
    }
    size_t end = static_cast<size_t>(static_cast<const char*>(nl) - data_.get()) + 1;
    f(std::string_view(data_.get(), end));
    kept = total - end;
    std::memmove(data_.get(), data_.get() + end, kept);
    size_ = kept;
  }
  ::close(fd);
  size_ = 0;
  return ok;
}

simdjson::padded_string_view FileBuffer::padded(std::string_view part) const {
  size_t offset = static_cast<size_t>(part.data() - data_.get());
  size_t room = size_ - offset + simdjson::SIMDJSON_PADDING;
  return simdjson::padded_string_view(part.data(), part.size(), room);
}

bool validUTF8(std::string_view text) { return simdjson::validate_utf8(text.data(), text.size()); }

// ---------------------------------------------------------------------------
// Lines

namespace {

// Substring search after Wojciech Muła's "SIMD-friendly algorithm": compare
// two bytes of the needle at their offsets over a whole vector of start
// positions at once, and check the full needle only where both match. The
// two bytes are taken from inside the needle, away from the quotes that make
// up so much of JSON.
struct Probe {
  size_t first, second;
};
Probe probeFor(std::string_view needle) {
  size_t k = needle.size();
  if (k >= 4) return {1, k - 2};
  return {0, k - 1};
}

// Checks the ends first: most false candidates differ there.
inline bool matchesAt(const char* at, std::string_view needle) {
  size_t k = needle.size();
  return at[0] == needle[0] && at[k - 1] == needle[k - 1] && std::memcmp(at, needle.data(), k) == 0;
}

size_t findScalar(const char* hay, size_t n, std::string_view needle, size_t from) {
  size_t k = needle.size();
  for (size_t i = from; i + k <= n; ++i)
    if (hay[i] == needle[0] && std::memcmp(hay + i, needle.data(), k) == 0) return i;
  return std::string_view::npos;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) size_t findAVX2(const char* hay, size_t n, std::string_view needle) {
  size_t k = needle.size();
  Probe p = probeFor(needle);
  const __m256i a = _mm256_set1_epi8(needle[p.first]);
  const __m256i b = _mm256_set1_epi8(needle[p.second]);
  size_t i = 0;
  for (; i + p.second + 32 <= n; i += 32) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hay + i + p.first));
    __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hay + i + p.second));
    uint32_t mask = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(x, a), _mm256_cmpeq_epi8(y, b))));
    while (mask) {
      size_t pos = i + static_cast<size_t>(__builtin_ctz(mask));
      if (pos + k <= n && matchesAt(hay + pos, needle)) return pos;
      mask &= mask - 1;
    }
  }
  return findScalar(hay, n, needle, i);
}

size_t findSSE2(const char* hay, size_t n, std::string_view needle) {
  size_t k = needle.size();
  Probe p = probeFor(needle);
  const __m128i a = _mm_set1_epi8(needle[p.first]);
  const __m128i b = _mm_set1_epi8(needle[p.second]);
  size_t i = 0;
  for (; i + p.second + 16 <= n; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + p.first));
    __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + p.second));
    uint32_t mask =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, a), _mm_cmpeq_epi8(y, b))));
    while (mask) {
      size_t pos = i + static_cast<size_t>(__builtin_ctz(mask));
      if (pos + k <= n && matchesAt(hay + pos, needle)) return pos;
      mask &= mask - 1;
    }
  }
  return findScalar(hay, n, needle, i);
}

const bool kHaveAVX2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

size_t findSubstring(std::string_view text, std::string_view needle) {
  if (needle.empty()) return 0;
  if (needle.size() > text.size()) return std::string_view::npos;
#if defined(__x86_64__)
  return kHaveAVX2 ? findAVX2(text.data(), text.size(), needle) : findSSE2(text.data(), text.size(), needle);
#else
  const void* hit = memmem(text.data(), text.size(), needle.data(), needle.size());
  return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
#endif
}

void forEachLineContaining(std::string_view text, std::initializer_list<std::string_view> needles,
                           const std::function<void(std::string_view)>& f) {
  constexpr size_t kNone = std::string_view::npos;
  const char* base = text.data();
  const size_t size = text.size();
  auto find = [&](std::string_view needle, size_t from) -> size_t {
    if (from >= size || needle.empty()) return kNone;
    size_t hit = findSubstring(text.substr(from), needle);
    return hit == kNone ? kNone : from + hit;
  };

  std::vector<std::string_view> list(needles);
  std::vector<size_t> next(list.size());
  for (size_t i = 0; i < list.size(); ++i) next[i] = find(list[i], 0);

  size_t pos = 0;  // always the start of a line
  while (true) {
    size_t hit = kNone;
    for (size_t n : next) hit = std::min(hit, n);
    if (hit == kNone) return;
    const void* before = hit > pos ? memrchr(base + pos, '\n', hit - pos) : nullptr;
    size_t start = before ? static_cast<size_t>(static_cast<const char*>(before) - base) + 1 : pos;
    const void* after = std::memchr(base + hit, '\n', size - hit);
    size_t end = after ? static_cast<size_t>(static_cast<const char*>(after) - base) : size;
    f(std::string_view(base + start, end - start));
    pos = end + 1;
    for (size_t i = 0; i < list.size(); ++i)
      if (next[i] != kNone && next[i] < pos) next[i] = find(list[i], pos);
  }
}

// ---------------------------------------------------------------------------
// Lenient JSON values

namespace {

std::optional<int64_t> integralDouble(double d) {
  // 2^63 is exactly representable; every double below it in magnitude that
  // has no fraction converts exactly.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(d) || d != std::trunc(d) || d >= kLimit || d < -kLimit) return std::nullopt;
  return static_cast<int64_t>(d);
}

}  // namespace

std::optional<int64_t> integralValue(ondemand::value value) {
  ondemand::json_type type;
  if (value.type().get(type) || type != ondemand::json_type::number) return std::nullopt;
  ondemand::number_type kind;
  if (value.get_number_type().get(kind)) return std::nullopt;
  if (kind == ondemand::number_type::signed_integer) {
    int64_t v;
    if (value.get_int64().get(v)) return std::nullopt;
    return v;
  }
  if (kind == ondemand::number_type::floating_point_number) {
    double d;
    if (value.get_double().get(d)) return std::nullopt;
    return integralDouble(d);
  }
  return std::nullopt;  // an integer of 2^63 or more
}

std::optional<int64_t> integralValue(dom::element value) {
  switch (value.type()) {
    case dom::element_type::INT64:
      return value.get_int64().value_unsafe();
    case dom::element_type::DOUBLE:
      return integralDouble(value.get_double().value_unsafe());
    default:
      return std::nullopt;
  }
}

std::optional<double> numberValue(ondemand::value value) {
  ondemand::json_type type;
  if (value.type().get(type) || type != ondemand::json_type::number) return std::nullopt;
  double d;
  if (value.get_double().get(d)) return std::nullopt;
  return d;
}

std::optional<double> numberValue(dom::element value) {
  switch (value.type()) {
    case dom::element_type::INT64:
    case dom::element_type::UINT64:
    case dom::element_type::DOUBLE:
      return value.get_double().value_unsafe();
    default:
      return std::nullopt;
  }
}

std::optional<std::string_view> stringValue(ondemand::value value) {
  ondemand::json_type type;
  if (value.type().get(type) || type != ondemand::json_type::string) return std::nullopt;
  std::string_view s;
  if (value.get_string().get(s)) return std::nullopt;
  return s;
}

std::optional<std::string_view> stringValue(dom::element value) {
  std::string_view s;
  if (value.get_string().get(s)) return std::nullopt;
  return s;
}

// ---------------------------------------------------------------------------
// Threads

size_t workerCount() {
  // The CPUs this process may run on (taskset, cgroup cpusets), else all.
  size_t cpus = std::thread::hardware_concurrency();
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = static_cast<size_t>(CPU_COUNT(&set));
  return std::clamp<size_t>(cpus == 0 ? 1 : cpus, 1, 8);
}

void parallelFor(size_t count, size_t workers, const std::function<void(size_t, size_t)>& f) {
  workers = std::clamp<size_t>(workers, 1, std::max<size_t>(count, 1));
  if (workers == 1) {
    for (size_t i = 0; i < count; ++i) f(i, 0);
    return;
  }
  std::atomic<size_t> next{0};
  std::mutex errorLock;
  std::exception_ptr error;
  auto run = [&](size_t worker) {
    try {
      for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) f(i, worker);
    } catch (...) {
      std::lock_guard lock(errorLock);
      if (!error) error = std::current_exception();
      next.store(count);
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(workers - 1);
  for (size_t w = 1; w < workers; ++w) threads.emplace_back(run, w);
  run(0);
  for (auto& t : threads) t.join();
  if (error) std::rethrow_exception(error);
}

std::vector<size_t> largestFirst(const std::vector<uint64_t>& sizes) {
  std::vector<size_t> order(sizes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
  return order;
}

std::vector<uint64_t> fileSizes(const std::vector<std::string>& paths) {
  std::vector<uint64_t> sizes(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    struct stat st{};
    sizes[i] = stat(paths[i].c_str(), &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }
  return sizes;
}

}  // namespace brimvale::jsonl
