// SPDX-License-Identifier: Apache-2.0
// Child processes for whole-program tests (see programs.h).
#include "tests/support/programs.h"

#include <stdio.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

bool startProgram(std::vector<std::string> args, const std::string &outputFile,
                  PlatChild *pChild) {
  if (args[0] == "zvloader") args[0] = ZV_LOADER;
  if (args[0] == "zvdevsim") args[0] = ZV_DEVSIM;
  if (args[0] == "zvfleet") args[0] = ZV_FLEET;
  if (args[0] == "zvinspect") args[0] = ZV_INSPECT;
  remove(outputFile.c_str());
  std::vector<const char *> argv;
  for (const std::string &arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return platStartChild(argv.data(), nullptr, outputFile.c_str(), pChild) == 1;
}

int finishProgram(PlatChild child, unsigned long ulMilliseconds) {
  int nStatus = -1;
  if (platWaitChild(child, ulMilliseconds, &nStatus)) return nStatus;
  platStopChild(child);
  platWaitChild(child, CHILD_TIME_LIMIT_MS, &nStatus);
  return -1;
}

std::string readOutput(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string lf;
  for (size_t i = 0; i < text.size(); i++)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
  return lf;
}

bool waitForOutput(const std::string &path, const std::string &text, PlatChild *pWriter,
                   int *pnStatus) {
  unsigned long ulStart = platMilliseconds();
  while (readOutput(path).find(text) == std::string::npos) {
    if (platMilliseconds() - ulStart > CHILD_TIME_LIMIT_MS) return false;
    if (pWriter != nullptr && platWaitChild(*pWriter, 0, pnStatus)) {
      *pWriter = 0;  // ended and released: what it wrote is all there is
      return readOutput(path).find(text) != std::string::npos;
    }
    // Nothing signals a file's growth portably: look again shortly.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string withoutTimes(std::string text) {
  for (size_t at = 0; (at = text.find("Dbg>", at)) != std::string::npos; at += 4)
    if (text.size() >= at + 15) text.replace(at + 4, 11, "DD hh:mm:ss");
  return text;
}

static bool canBind(const char *pszAddress, uint16_t usPort) {
  PlatSocket s = platUdpSocket();
  bool bFree = platBind(s, platInetAddr(pszAddress), usPort) == 1;
  platCloseSocket(s);
  return bFree;
}

bool devicePortsFree() {
  platSocketStartup();
  return canBind(DEVICE_ADDRESS, 69) && canBind("0.0.0.0", 9029);
}

bool startDevice(const std::vector<std::string> &options, const std::string &outputFile,
                 PlatChild *pChild, const std::string &address) {
  std::vector<std::string> args = {"zvdevsim", "-a", address, "-q", "-t", "60"};
  args.insert(args.end(), options.begin(), options.end());
  return startProgram(args, outputFile, pChild) && waitForOutput(outputFile, "listening");
}
