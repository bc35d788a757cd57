// SPDX-License-Identifier: Apache-2.0
// Case files and golden transcripts (see case_file.h).
#include "tests/support/case_file.h"

#include <gtest/gtest.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "image/crc16.h"
#include "zv_version.h"

namespace fs = std::filesystem;

std::vector<std::string> caseNames(const std::string &dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".case")
      names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string commandText(const std::vector<std::string> &args) {
  std::string text;
  for (const std::string &arg : args) {
    bool bQuote = arg.empty() || std::any_of(arg.begin(), arg.end(), [](unsigned char c) {
                    return c <= ' ' || c > 0x7E || c == '"' || c == '\\';
                  });
    std::string shown;
    for (unsigned char c : arg) {
      char sz[8];
      snprintf(sz, sizeof(sz), c < 0x20 || c > 0x7E ? "\\x%02X" : c == '"' || c == '\\' ? "\\%c" : "%c", c);
      shown += sz;
    }
    text += (text.empty() ? "" : " ") + (bQuote ? "\"" + shown + "\"" : shown);
  }
  return text;
}

void setCaseTerminal(const CaseLine &line) {
  // putenv keeps the text itself: these live as long as the process.
  static char szTerm[] = "TERM=xterm", szDumb[] = "TERM=dumb";
  static char szColour[] = "NO_COLOR=", szNoColour[] = "NO_COLOR=1";
  std::string kind = line.args.empty() ? "" : line.args[0];
  putenv(kind == "dumb" ? szDumb : szTerm);
  putenv(kind == "no-color" ? szNoColour : szColour);
}

unsigned long caseNumber(const std::string &text) {
  return strtoul(text.c_str(), nullptr, 0);
}

// One argument from its text at *pAt: quoted with escapes, or up to a blank.
static std::string nextArgument(const std::string &text, size_t *pAt) {
  size_t at = *pAt;
  std::string arg;
  if (text[at] != '"') {
    size_t end = text.find_first_of(" \t", at);
    if (end == std::string::npos) end = text.size();
    *pAt = end;
    return text.substr(at, end - at);
  }
  for (at++; at < text.size() && text[at] != '"'; at++) {
    if (text[at] != '\\' || at + 1 >= text.size()) {
      arg += text[at];
      continue;
    }
    char c = text[++at];
    if (c == 'x' && at + 2 < text.size()) {
      arg += (char)strtoul(text.substr(at + 1, 2).c_str(), nullptr, 16);
      at += 2;
    } else {
      arg += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
  }
  *pAt = at + 1;
  return arg;
}

// Every command of the language with its least and most arguments.
struct CaseCommand {
  const char *pszName;
  size_t nMin, nMax;
};
const size_t ANY = 1000;
const CaseCommand s_aCommands[] = {
    {"file", 2, ANY},      {"dir", 1, 1},        {"mode", 2, 2},         {"poke", 3, 3},
    {"append", 2, 3},      {"cut", 2, 2},        {"run", 1, ANY},        {"device", 0, ANY},
    {"show", 1, 2},        {"fail", 1, 2},       {"error", 1, 2},        {"times", 0, 0},
    {"echo", 1, 2},        {"requests", 0, 0},   {"unwritable", 1, 1},   {"port-taken", 0, 0},
    {"no-random", 0, 0},   {"process", 1, 1},    {"interrupt", 1, 1},    {"remove", 2, 3},
    {"stop-takes", 1, 1},  {"kill", 1, 1},       {"keep", 1, 1},         {"reindent", 1, 2},
    {"needs", 1, 1},       {"echo-replies", 1, 1}, {"during", 4, 4},     {"interrupt-on", 1, 2},
    {"kill-each", 0, 0},   {"disk", 1, 1},       {"port-deaf", 0, 0},   {"nothing-beside", 0, 0},
    {"unreachable", 1, 1}, {"terminal", 0, 1}};

// Checks a line against the language and the driver's commands.
static void checkCommand(const CaseLine &line, const std::vector<std::string> &driverCommands) {
  const CaseCommand *pCommand = nullptr;
  for (const CaseCommand &command : s_aCommands)
    if (line.command == command.pszName) pCommand = &command;
  bool bFiles = pCommand != nullptr && pCommand < s_aCommands + 6;
  if (pCommand == nullptr)
    ADD_FAILURE() << "line " << line.nLine << ": unknown command " << line.command;
  else if (line.args.size() < pCommand->nMin || line.args.size() > pCommand->nMax)
    ADD_FAILURE() << "line " << line.nLine << ": " << line.command << " with " << line.args.size()
                  << " arguments";
  else if (!bFiles && std::find(driverCommands.begin(), driverCommands.end(), line.command) ==
                          driverCommands.end())
    ADD_FAILURE() << "line " << line.nLine << ": " << line.command << " is not for these cases";
}

std::vector<CaseLine> readCase(const std::string &path, const std::vector<std::string> &driverCommands) {
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::vector<CaseLine> lines;
  std::string text;
  for (int n = 1; std::getline(in, text); n++) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos) continue;
    if (text[at] == '#') {  // kept, for the transcript
      lines.push_back({n, "#", {text.substr(at)}, ""});
      continue;
    }
    CaseLine line{n, "", {}, ""};
    while (at < text.size()) {
      std::string arg = nextArgument(text, &at);
      if (line.command.empty())
        line.command = arg;
      else
        line.args.push_back(arg);
      at = text.find_first_not_of(" \t", at);
      if (at == std::string::npos) break;
    }
    if (line.command == "device" && !line.args.empty() && isdigit((unsigned char)line.args[0][0])) {
      line.address = line.args[0];
      line.args.erase(line.args.begin());
    }
    checkCommand(line, driverCommands);
    lines.push_back(line);
  }
  return lines;
}

bool applyFileCommand(const CaseLine &line, const std::string &sourceDir) {
  const std::vector<std::string> &a = line.args;
  if (line.command == "dir" && a.size() == 1) {
    fs::create_directories(a[0]);
  } else if (line.command == "mode" && a.size() == 2 && (a[1] == "ro" || a[1] == "rw")) {
    fs::permissions(a[0], fs::perms::owner_write,
                    a[1] == "ro" ? fs::perm_options::remove : fs::perm_options::add);
  } else if (line.command == "poke" && a.size() == 3) {
    Bytes data = readFile(a[0]);
    size_t at = caseNumber(a[1]);
    EXPECT_LT(at, data.size()) << "line " << line.nLine;
    if (at < data.size()) data[at] = (uint8_t)caseNumber(a[2]);
    writeFile(a[0], data);
  } else if (line.command == "append" && (a.size() == 2 || a.size() == 3)) {
    Bytes data = readFile(a[0]);
    for (unsigned long n = a.size() == 3 ? caseNumber(a[2]) : 1; n > 0; n--)
      data.insert(data.end(), a[1].begin(), a[1].end());
    writeFile(a[0], data);
  } else if (line.command == "cut" && a.size() == 2) {
    Bytes data = readFile(a[0]);
    data.resize(std::min<size_t>(data.size(), caseNumber(a[1])));
    writeFile(a[0], data);
  } else if (line.command == "file" && a.size() >= 2) {
    Bytes data;
    if (a.size() == 2 && a[1] != "hex") {
      ADD_FAILURE() << "line " << line.nLine << ": file " << a[0] << " without content";
    } else if (a[1] == "from") {
      data = readFile(sourceDir + "/" + a[2]);
      EXPECT_FALSE(data.empty()) << "line " << line.nLine << ": " << a[2];
    } else if (a[1] == "text") {
      data.assign(a[2].begin(), a[2].end());
    } else if (a[1] == "hex") {
      for (size_t i = 2; i < a.size(); i++) data.push_back((uint8_t)strtoul(a[i].c_str(), nullptr, 16));
    } else if (a[1] == "count") {
      for (unsigned long i = 0; i < caseNumber(a[2]); i++) data.push_back((uint8_t)i);
    } else {
      ADD_FAILURE() << "line " << line.nLine << ": unknown file form " << a[1];
    }
    writeFile(a[0], data);
  } else {
    return false;
  }
  return true;
}

// Files that a run writes are told by their time: every file gets one of a day ago before the run
// (a time that every file system keeps, to its own precision), and what it kept is remembered.
static std::map<std::string, fs::file_time_type> s_markedTimes;

void markFiles() {
  s_markedTimes.clear();
  fs::file_time_type dayAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);
  for (const fs::directory_entry &entry : fs::recursive_directory_iterator("."))
    if (entry.is_regular_file()) {
      fs::last_write_time(entry.path(), dayAgo);
      s_markedTimes[entry.path().lexically_relative(".").generic_string()] =
          fs::last_write_time(entry.path());
    }
}

std::vector<std::string> writtenFiles() {
  std::vector<std::string> lines;
  for (const fs::directory_entry &entry : fs::recursive_directory_iterator(".")) {
    if (!entry.is_regular_file()) continue;
    std::string name = entry.path().lexically_relative(".").generic_string();
    auto marked = s_markedTimes.find(name);
    if (marked != s_markedTimes.end() && marked->second == entry.last_write_time()) continue;
    Bytes data = readFile(name);
    char sz[160];
    snprintf(sz, sizeof(sz), "wrote %s: %u bytes, crc %04X, starts", name.c_str(),
             (unsigned)data.size(), calcCrc16(data.data(), (uint32_t)data.size()));
    std::string line = sz;
    for (size_t i = 0; i < data.size() && i < 12; i++) {
      snprintf(sz, sizeof(sz), " %02X", data[i]);
      line += sz;
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

void expectGolden(const std::string &goldenPath, const std::string &output) {
  // A version line names the build's commit, which the golden cannot know.
  std::string actual = output, commit = std::string("(commit ") + ZV_COMMIT + ")";
  for (size_t at; (at = actual.find(commit)) != std::string::npos;)
    actual.replace(at, commit.size(), "(commit C)");
  if (getenv("ZV_UPDATE_GOLDEN") != nullptr) {
    writeFile(goldenPath, Bytes(actual.begin(), actual.end()));
    return;
  }
  Bytes golden = readFile(goldenPath);
  std::string expected(golden.begin(), golden.end());
  expected.erase(std::remove(expected.begin(), expected.end(), '\r'), expected.end());
  EXPECT_EQ(expected, actual) << goldenPath;
}

ScratchDir::ScratchDir() {
  std::random_device random;
  fs::path dir;
  do dir = fs::temp_directory_path() / ("zvcase-" + std::to_string(random()));
  while (!fs::create_directory(dir));
  m_path = dir.string();
  m_previous = fs::current_path().string();
  fs::current_path(dir);
}

ScratchDir::~ScratchDir() {
  std::error_code error;
  fs::current_path(m_previous, error);
  fs::remove_all(m_path, error);
}
