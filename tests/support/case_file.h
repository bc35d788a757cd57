// SPDX-License-Identifier: Apache-2.0
// Case files and their golden transcripts: the one case language that the three drivers
// (tool_cases, fleet_cases, e2e_cases) read through readCase. A case file is plain data, one
// command a line; a comment line starts with '#' and is copied into the transcript.  Arguments are
// split at blanks, "..." keeps blanks and takes the escapes \n \r \t \\ \" and \xHH, and "" is an
// empty argument.  Every driver takes the files:
//   file NAME from PATH      a copy of PATH (relative to the source tree)
//   file NAME text TEXT      the text (escapes as above, no line end added)
//   file NAME hex HH HH ..   those bytes
//   file NAME count N        N bytes 00 01 02 .. FF 00 01 ..
//   dir NAME                 an empty directory
//   mode NAME ro|rw          a file made read-only, or writable again
//   poke NAME OFFSET BYTE    one byte of a file set
//   append NAME TEXT [N]     TEXT added to the end of a file N times (1)
//   cut NAME LENGTH          a file cut to LENGTH bytes
// Runs and devices (each driver's opening comment says what it does with them, and which of the
// others it takes):
//   run PROGRAM ARGS         a run of a program, as from a fresh start
//   device [ADDRESS] OPTIONS a simulated device for the next run:
//                            zvdevsim's options and faults at ADDRESS
//   show FILE [TEXT]         the file's text (with TEXT: its lines that hold it)
// The platform stand-in of a single run: fail KIND [N], error CODE [TEXT], times, terminal
// [dumb|no-color].  A fleet run's world: the commands that fleet_cases_test.cc lists.  Real
// processes: needs WHAT, echo-replies on|off, during TEXT FILE echo-replies on|off, interrupt-on
// TEXT [FILE]. readCase refuses a command it does not know, one with a wrong number of arguments
// and one the driver does not take.  The golden transcript NAME.out stands beside NAME.case;
// ZV_UPDATE_GOLDEN=1 writes it anew.
#ifndef ZV_CASE_FILE_H
#define ZV_CASE_FILE_H

#include <string>
#include <vector>

#include "tests/support/transcript.h"

struct CaseLine {
  int nLine;
  std::string command;
  std::vector<std::string> args;  // of device: its options
  std::string address;            // of device: its ADDRESS, or ""
};

// terminal [dumb|no-color]: TERM is xterm (or dumb) and NO_COLOR empty (or set) for the runs that
// follow; the driver makes standard output a terminal.
void setCaseTerminal(const CaseLine &line);

// The case names of a folder (NAME of every NAME.case), sorted.
std::vector<std::string> caseNames(const std::string &dir);

// The lines of a case whose commands other than the files are among driverCommands ("#" lines
// included).
std::vector<CaseLine> readCase(const std::string &path, const std::vector<std::string> &driverCommands);

// Carries out a file command in the current directory.  Returns false when the line is not one.
bool applyFileCommand(const CaseLine &line, const std::string &sourceDir);

// The arguments as a case file would write them (quoted where needed).
std::string commandText(const std::vector<std::string> &args);

// A number written in decimal or with 0x.
unsigned long caseNumber(const std::string &text);

// Marks the files of the current directory and the folders in it before a run, and then gives the
// lines "wrote PATH: N bytes, crc XXXX, starts HH HH .." (the first 12 bytes) for those that it
// wrote.
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
