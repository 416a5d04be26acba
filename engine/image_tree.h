// Everything an image's metadata tells about each of its files, read in one
// walk of its directory tree without decompressing any file data: paths,
// sizes, attributes, times, a digest of the security descriptor, the SHA-1
// and name of every stream and the hard-link group.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One stream of a file: the unnamed data stream has an empty name.
struct TreeStream {
  std::wstring name;
  uint8_t sha1[20] = {};  // all zero for an empty stream
  uint64_t size = 0;
};

// One file or folder of an image.
struct TreeEntry {
  std::wstring path;  // inside the image, "\" for the root, "\a\b.txt" below it
  uint32_t attributes = 0;
  uint32_t reparseTag = 0;
  uint64_t size = 0;  // of the unnamed data stream
  // 100-nanosecond units since 1970-01-01 (UTC).
  int64_t created = 0;
  int64_t written = 0;
  int64_t accessed = 0;
  bool hasSecurity = false;
  uint32_t securitySize = 0;
  uint64_t securityDigest = 0;  // of the descriptor's bytes
  uint64_t linkGroup = 0;       // 0: no other name shares this file's data
  uint32_t links = 1;
  std::vector<TreeStream> streams;  // the unnamed stream (if any) first

  bool IsFolder() const { return (attributes & 0x10) != 0; }
};

struct ImageTree {
  std::wstring wimPath;
  int image = 1;
  std::vector<TreeEntry> entries;  // in the order the walk met them
};

// Which image to read. A split set is named by its first part; the further
// parts are found beside it.
struct TreeRequest {
  std::wstring wimPath;
  int image = 1;
};

// A 64-bit digest of bytes (FNV-1a), the same in every run.
inline uint64_t DigestBytes(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < size; i++) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}
