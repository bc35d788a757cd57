// SPDX-License-Identifier: Apache-2.0
// Case files and their golden transcripts, shared by the drivers that run
// them.  A case file is plain data, one command a line; a comment line
// starts with '#' and is copied into the transcript.  Arguments are split
// at blanks, "..." keeps blanks and takes the escapes \n \r \t \\ \" and
// \xHH, and "" is an empty argument.
//   file NAME from PATH      a copy of PATH (relative to the source tree)
//   file NAME text TEXT      the text (escapes as above, no line end added)
//   file NAME hex HH HH ..   those bytes
//   file NAME count N        N bytes 00 01 02 .. FF 00 01 ..
//   dir NAME                 an empty directory
//   mode NAME ro|rw          a file made read-only, or writable again
//   poke NAME OFFSET BYTE    one byte of a file set
//   append NAME TEXT [N]     TEXT added to the end of a file N times (1)
//   cut NAME LENGTH          a file cut to LENGTH bytes
// Every other command belongs to the driver (run, device, fail, ...).  The
// golden transcript NAME.out stands beside NAME.case; ZV_UPDATE_GOLDEN=1
// writes it anew.
#ifndef ZV_CASE_FILE_H
#define ZV_CASE_FILE_H

#include <string>
#include <vector>

#include "tests/support/transcript.h"

struct CaseLine {
  int nLine;
  std::string command;
  std::vector<std::string> args;
};

// The case names of a folder (NAME of every NAME.case), sorted.
std::vector<std::string> caseNames(const std::string &dir);

std::vector<CaseLine> readCase(const std::string &path);

// Carries out a file command in the current directory.  Returns false when
// the line is not one.
bool applyFileCommand(const CaseLine &line, const std::string &sourceDir);

// The arguments as a case file would write them (quoted where needed).
std::string commandText(const std::vector<std::string> &args);

// A number written in decimal or with 0x.
unsigned long caseNumber(const std::string &text);

// Marks the files of the current directory and the folders in it before a
// run, and then gives the lines "wrote PATH: N bytes, crc XXXX, starts HH
// HH .." (the first 12 bytes) for those that it wrote.
void markFiles();
std::vector<std::string> writtenFiles();

void expectGolden(const std::string &goldenPath, const std::string &actual);

// A scratch directory, the current one while the object lives.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string path() const { return m_path; }

 private:
  std::string m_path;
  std::string m_previous;
};

#endif
