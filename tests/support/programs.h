// SPDX-License-Identifier: Apache-2.0
// The built programs run as child processes for whole-program tests: the tool and the device
// simulator, started in the current directory with their output in a file, and waited for by what
// they print.
#ifndef ZV_PROGRAMS_H
#define ZV_PROGRAMS_H

#include <string>
#include <vector>

#include "platform/platform_testing.h"

#define DEVICE_ADDRESS "127.0.0.9"
#define CHILD_TIME_LIMIT_MS 120000UL  // far beyond any run that works

// Starts ZV_LOADER ("zvloader"), ZV_DEVSIM ("zvdevsim"), ZV_FLEET ("zvfleet"), ZV_INSPECT
// ("zvinspect") or another program named by its path, its output to the file (emptied first).
bool startProgram(std::vector<std::string> args, const std::string &outputFile,
                  PlatChild *pChild);

// Waits for the child's end; a child still running after ulMilliseconds is stopped.  Returns its
// exit status, -1 when it had to be stopped.
int finishProgram(PlatChild child, unsigned long ulMilliseconds = CHILD_TIME_LIMIT_MS);

// The file's text, line ends as LF.
std::string readOutput(const std::string &path);

// Waits until the file holds the text (true), for at most the time limit; with a writer, no longer
// than it runs: a writer that ended is released, *pWriter set to 0 and its exit status put in
// *pnStatus.
bool waitForOutput(const std::string &path, const std::string &text,
                   PlatChild *pWriter = nullptr, int *pnStatus = nullptr);

// The text with the day and time of every "Dbg>" line as DD hh:mm:ss.
std::string withoutTimes(std::string text);

// Whether the device's address and the debug port can be bound here (as root, or in a private
// network namespace).
bool devicePortsFree();

// A simulated device on the address, quiet (-q), with the options; started and listening, or false.
bool startDevice(const std::vector<std::string> &options, const std::string &outputFile,
                 PlatChild *pChild, const std::string &address = DEVICE_ADDRESS);

#endif
