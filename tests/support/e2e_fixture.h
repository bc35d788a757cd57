// The fixture of the whole-program tests: a scratch directory with the
// samples, the built zvloader run to its end, the device simulator on
// 127.0.0.9 port 69, and golden-file comparison of console output.
#ifndef ZV_E2E_FIXTURE_H
#define ZV_E2E_FIXTURE_H

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "image/crc16.h"
#include "tests/support/loopback.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"


const char *const DEVICE = "127.0.0.9";
const uint32_t DEVICE_ADDR = 0x0900007Fu;
const char *const KEY = "Zelva-K1";
const char *const SOURCE_DIR = ZV_SOURCE_DIR;

inline std::string replaceAll(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

inline std::string normalised(std::string text, const std::string &dir) {
  text = replaceAll(text, dir, "<dir>");
  for (size_t at = 0; (at = text.find("Dbg>", at)) != std::string::npos; at += 4)
    if (text.size() >= at + 15) text.replace(at + 4, 11, "DD hh:mm:ss");
  return text;
}

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    platSocketStartup();
    for (const char *pszName : {"firmware.hex", "logo.bin", "index.html"})
      writeFile(m_dir.path(pszName), readFile(std::string(SOURCE_DIR) + "/samples/" + pszName));
  }

  bool deviceAvailable() { return canBind(DEVICE_ADDR, 69) && canBind(0, 9029); }

  ProcessResult loader(std::vector<std::string> args, int nMilliseconds = 60000) {
    args.insert(args.begin(), ZV_LOADER);
    return runProcess(args, m_dir.path(""), nMilliseconds);
  }

  // Builds an update file with the tool itself.
  void build(const std::vector<std::string> &args) {
    std::vector<std::string> all = {"-K", KEY};
    all.insert(all.end(), args.begin(), args.end());
    ProcessResult r = loader(all);
    ASSERT_TRUE(r.bFinished);
    ASSERT_EQ(1, r.nStatus);
  }

  void startDevice(std::vector<std::string> args) {
    std::vector<std::string> all = {ZV_DEVSIM, "-a", DEVICE, "-t", "20", "-dump", m_dir.path("dev")};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_TRUE(m_device.start(all, "", m_dir.path("device.out")));
    for (int i = 0; i < 500; i++) {
      if (readOutput(m_dir.path("device.out")).find("listening") != std::string::npos) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "the simulator did not start";
  }

  // The simulator's report once it has ended (or been stopped): called
  // after the tool ended, when nothing more will reach the device.
  std::string deviceReport() {
    int nStatus;
    if (!m_device.wait(300, &nStatus)) {
      m_device.kill();
      m_device.wait(5000, &nStatus);
    }
    return readOutput(m_dir.path("device.out"));
  }

  void expectGolden(const std::string &name, const ProcessResult &r, const std::string &extra = "") {
    ASSERT_TRUE(r.bFinished) << name << " did not end";
    std::string actual = "exit " + std::to_string(r.nStatus) + "\n" +
                         normalised(r.output, m_dir.path("")) + extra;
    std::string path = std::string(SOURCE_DIR) + "/tests/golden/" + name + ".out";
    if (getenv("ZV_UPDATE_GOLDEN") != nullptr) {
      writeText(path, actual);
      return;
    }
    Bytes golden = readFile(path);
    EXPECT_EQ(std::string(golden.begin(), golden.end()), actual) << name;
  }

  std::string fileLine(const std::string &name) {
    Bytes file = readFile(m_dir.path(name));
    char sz[96];
    snprintf(sz, sizeof(sz), "file %s size %u crc %04X\n", name.c_str(), (unsigned)file.size(),
             calcCrc16(file.data(), (uint32_t)file.size()));
    return sz;
  }

  TempDir m_dir;
  ChildProcess m_device;
};

#define NEED_DEVICE()                                                       \
  if (!deviceAvailable())                                                   \
  GTEST_SKIP() << "cannot bind " << DEVICE << ":69 or port 9029 "           \
               << "(not root, or taken); run as root or in a private network namespace"

#endif
