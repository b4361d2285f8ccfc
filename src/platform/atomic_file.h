#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace brimvale {

// Replaces path with bytes in one step: a temporary file in the same folder,
// flushed to disk, then renamed over the target. The temporary file is removed
// on any failure. mode applies to the new file. Returns an error text on failure.
std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view bytes,
                                               mode_t mode = 0644);

// The whole file, or absent when it cannot be read (missing, a folder, ...).
std::optional<std::string> readWholeFile(const std::string& path);

// Writes all of bytes to the open descriptor fd, resuming after short writes
// and interrupted calls. False when a write fails (errno tells why).
bool writeAll(int fd, std::string_view bytes);

// mkdir -p; returns an error text on failure.
std::optional<std::string> createDirectories(const std::string& path);

}  // namespace brimvale
