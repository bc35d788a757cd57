// Helpers shared by the libFuzzer harnesses: the invariant check that
// aborts (so that libFuzzer reports the input), quiet standard output, a
// scratch directory of the fuzzing process, and small file helpers.
#ifndef ZV_FUZZ_SUPPORT_H
#define ZV_FUZZ_SUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A broken invariant: report it and abort, which libFuzzer counts as a crash.
#define FUZZ_CHECK(cond)                                                   \
  do {                                                                     \
    if (!(cond)) {                                                         \
      fprintf(stderr, "fuzz invariant failed: %s (%s:%d)\n", #cond,        \
              __FILE__, __LINE__);                                         \
      abort();                                                             \
    }                                                                      \
  } while (0)

// The tool prints a message for nearly every input; keep libFuzzer's own
// report (on standard error) readable.  ZV_FUZZ_VERBOSE=1 keeps the
// messages, for replaying one input.
inline void quietStdout() {
  if (getenv("ZV_FUZZ_VERBOSE") != NULL) return;
  if (freopen("/dev/null", "w", stdout) == NULL) abort();
}

// A fresh directory of this process under the system's temporary
// directory, removed when the process exits normally.  Fuzzing jobs that
// run side by side each get their own.
inline const std::string &scratchDir() {
  static std::string s_dir;
  if (s_dir.empty()) {
    namespace fs = std::filesystem;
    std::random_device random;
    for (;;) {
      fs::path dir = fs::temp_directory_path() /
                     ("zvfuzz-" + std::to_string(random()) +
                      std::to_string(random()));
      std::error_code error;
      if (fs::create_directory(dir, error)) {
        s_dir = dir.string();
        break;
      }
      if (error) abort();
    }
    atexit([] {
      std::error_code error;
      std::filesystem::remove_all(s_dir, error);
    });
  }
  return s_dir;
}

inline void writeBytes(const std::string &path, const uint8_t *pb, size_t n) {
  FILE *pFile = fopen(path.c_str(), "wb");
  if (pFile == NULL) abort();
  if (n > 0 && fwrite(pb, 1, n, pFile) != n) abort();
  if (fclose(pFile) != 0) abort();
}

inline Bytes readBytes(const std::string &path) {
  Bytes data;
  FILE *pFile = fopen(path.c_str(), "rb");
  if (pFile == NULL) return data;
  uint8_t ab[4096];
  size_t n;
  while ((n = fread(ab, 1, sizeof(ab), pFile)) > 0)
    data.insert(data.end(), ab, ab + n);
  fclose(pFile);
  return data;
}

// True when all n bytes at pb are zero.
inline bool allZero(const uint8_t *pb, size_t n) {
  static const uint8_t s_abZero[4096] = {0};
  for (; n > sizeof(s_abZero); pb += sizeof(s_abZero), n -= sizeof(s_abZero))
    if (memcmp(pb, s_abZero, sizeof(s_abZero)) != 0) return false;
  return memcmp(pb, s_abZero, n) == 0;
}

#endif
