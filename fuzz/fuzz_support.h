// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the libFuzzer harnesses: the invariant check that aborts (so that libFuzzer
// reports the input), a scratch directory of the fuzzing process, and an in-process run of zvloader
// on the platform stand-in, whose transcript takes the console output.
#ifndef ZV_FUZZ_SUPPORT_H
#define ZV_FUZZ_SUPPORT_H

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/loader.h"
#include "tests/fakes/fake_platform.h"

#define FUZZ_CHECK(cond)                                                                     \
  do {                                                                                       \
    if (!(cond)) {                                                                           \
      fprintf(stderr, "fuzz invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      abort();                                                                               \
    }                                                                                        \
  } while (0)

// Makes a fresh directory of this process the current one (the builder writes there); fuzzing jobs
// side by side each get their own.
inline void enterScratchDir() {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("zvfuzz-" + std::to_string(rand()) + std::to_string(rand()));
  fs::create_directories(dir);
  fs::current_path(dir);
}

// Runs zvloader with the arguments; returns its exit status (FAKE_STOPPED when it would have run on
// until Ctrl+C).
inline int runLoader(std::vector<std::string> args, const FakeRun &run = FakeRun()) {
  args.insert(args.begin(), "zvloader");
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  Transcript transcript;
  fakeBegin(run, &transcript);
  return runZvloader((int)args.size(), argv.data());
}

// The input cut into pieces, each led by its one-byte length.
inline std::vector<Bytes> pieces(const uint8_t *pb, size_t n) {
  std::vector<Bytes> out;
  for (size_t i = 0; i < n;) {
    size_t nLength = pb[i++];
    if (nLength > n - i) nLength = n - i;
    out.emplace_back(pb + i, pb + i + nLength);
    i += nLength;
  }
  return out;
}

#endif
