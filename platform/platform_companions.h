// SPDX-License-Identifier: Apache-2.0
// The operating-system services that the companion programs (zvdevsim,
// zvinspect, zvfleet and their common library) need beyond the tool's own:
// standard error and standard input, the help switch of the system, the
// whole local date, files compared and appended to, folders, terminals,
// child processes and their pipes, interruptions, ICMP echo, the process
// and its workstation, and random bytes.
//
// Companions and tests may include this header; the tool's own folders
// never do (they include platform.h alone, which this header builds on).
// The same sources implement it: platform_posix.cc, platform_win32.cc and
// the tests' stand-in.
#ifndef ZV_PLATFORM_COMPANIONS_H
#define ZV_PLATFORM_COMPANIONS_H

#include "platform/platform.h"

// Writes the bytes to standard error in one piece and flushes them, as
// platConsoleWrite does standard output: the companions put their errors
// there.
void platErrorWrite(const char *pText, int nLength);

// 1 once a write of standard output has failed (a full disk, a closed
// pipe), 0 while none has.
int platConsoleFailed(void);

// 1 for the system's own way of asking a program for help: "/?" on
// Windows; nothing on POSIX, where that is a path.
int platIsHelpSwitch(const char *pszArg);

// Standard input, read as bytes (no line end translation).
FILE *platStandardInput(void);

// 1 when the path names the file that standard input reads (a file
// redirected to it), 0 otherwise.
int platIsStandardInput(const char *pszPath);

// 1 when the open file is a regular file on a disk, which can be read
// again from where a reading began; 0 for a pipe, a terminal or a device.
int platIsRegularFile(FILE *pFile);

// 1 when both paths name the same existing file (through links or other
// spellings too), 0 otherwise.
int platSameFile(const char *pszA, const char *pszB);

// 1 when the path's last name is a symbolic link (or, on Windows, any
// reparse point), whatever it points to, 0 otherwise (also when it names
// nothing): a program replaces no link.
int platIsLink(const char *pszPath);

// Removes the file.  Returns 1, or 0 when it could not be removed.
int platRemoveFile(const char *pszPath);

// The system's folder for temporary files, shared by every program of
// this workstation.  Returns 1, or 0 when it is unknown or does not fit.
int platTempFolder(char *pszPath, int nSize);

// The local date and time, whole, for what is recorded beyond a day.
struct PlatDateTime {
  int nYear;    // e.g. 2026
  int nMonth;   // 1 to 12
  int nDay;     // 1 to 31
  int nHour;    // 0 to 23
  int nMinute;  // 0 to 59
  int nSecond;  // 0 to 59
};
void platLocalDateTime(PlatDateTime *pTime);

// The terminal, and what zvfleet needs besides: its output folder, the logs
// that it shares with its children, and the tool beside it.

// 1 when standard output is a terminal that takes the ANSI escape sequences
// for colour, cursor and erasing (a Windows console is switched to process
// them), 0 when it is a file or a pipe, or a console that cannot take them.
int platIsTerminal(void);

// Creates the directory (its parent must exist).  Returns 1 when it was
// made or already is a directory, 0 otherwise.
int platMakeDirectory(const char *pszPath);

// Removes the directory, which must be empty.  Returns 1 when it is gone.
int platRemoveDirectory(const char *pszPath);

// Makes the file (replacing one of that name) of lBytes held on the disk
// without writing them: room kept for later writes.  Returns 1, or 0 when
// the room cannot be had (the file is then removed).
int platReserveFile(const char *pszPath, long lBytes);

// Appends the bytes to the file (created when missing) in one write that
// lands whole at the end of the file even while a child process appends to
// it too.  Returns 1, or 0 when the file cannot be opened or written.
int platAppendToFile(const char *pszPath, const char *pData, int nLength);

// The path of the program pszName in the folder of the running program
// (".exe" added on Windows).  Returns 1, or 0 when the running program's
// path is unknown or the result does not fit nSize.
int platProgramBeside(const char *pszName, char *pszPath, int nSize);

// Children that zvfleet watches, and zvfleet's own interruption.  A child
// always starts with the default handling of the signals that stop it
// (SIGINT, SIGTERM, SIGHUP; Ctrl+C on Windows), even where its parent was
// started with them ignored.

// A child process: a process id on POSIX, a process handle on Windows.
typedef uintptr_t PlatChild;

// The read end of a pipe that carries a child's output.
typedef uintptr_t PlatPipe;

// Starts the program ppszArgv[0] (a path) with the arguments that follow it
// (the list ends with a null), in the directory pszDir (null: the current
// one); the child ends when its parent does.  Its standard output and
// standard error both go into a new pipe whose read end, never blocking
// and not inherited by other children, is put in *pPipe.  Returns 1 with
// the child in *pChild, 0 when the pipe or the child cannot be made.
int platStartChildPiped(const char *const *ppszArgv, const char *pszDir,
                        PlatChild *pChild, PlatPipe *pPipe);

// Reads at most nSize bytes that wait in the pipe, without waiting.
// Returns their number, 0 when nothing waits yet, -1 when nothing more can
// come (every writer has closed its end) or the read failed.
int platReadPipe(PlatPipe pipe, char *pBuffer, int nSize);

void platClosePipe(PlatPipe pipe);

// Waits at most ulMilliseconds for the child to end.  Returns 1 once it has
// ended, with its exit status in *pnStatus (the low eight bits; 128 + the
// signal number when a POSIX signal ended it), and the child is released;
// 0 while it still runs.
int platWaitChild(PlatChild child, unsigned long ulMilliseconds,
                  int *pnStatus);

// Stops the child at once, as Ctrl+C in its console would; it must still be
// waited for.
void platStopChild(PlatChild child);

// Ends the child by force (SIGKILL; on Windows the child is terminated as
// the job object that holds it would); it must still be waited for.
void platKillChild(PlatChild child);

// From now on SIGINT, SIGTERM and SIGHUP (Ctrl+C, Ctrl+Break and the
// closing of the console on Windows) no longer end the process: they are
// noted, and platInterrupted says so.  Returns 1, or 0 when they cannot be
// caught.
int platCatchInterruptions(void);

// 1 once an interruption has come, 0 before.
int platInterrupted(void);

// Gives the process time to finish its record after an interruption that
// the system would otherwise end it for soon (a closed console): the
// caller says when it is done.  Does nothing where no such limit exists.
void platInterruptionHandled(void);

// The columns and rows of the terminal on standard output.  Returns 1, or
// 0 when standard output is no terminal or its size is unknown.
int platTerminalSize(int *pnColumns, int *pnRows);

// One wait over many sockets (zvdevsim's devices): up to
// PLAT_WAIT_SOCKETS of them, PLAT_NO_SOCKET entries left out.  Returns 1
// with *pnReady the index of a socket that has a datagram waiting (the
// first at or after *pnReady's index on entry, around the end), 0 after
// the time without one, -1 on failure.  With no socket it is a sleep.
// One thread at a time.
#define PLAT_WAIT_SOCKETS 1024
int platWaitSockets(const PlatSocket *aSockets, int nSockets, unsigned long ulMilliseconds,
                    int *pnReady);

// ICMP echo, with which zvfleet learns that a device is back on the
// network after its update.  A pinger sends echo requests to one address
// and hears that address's replies, never waiting: on POSIX through an
// unprivileged ICMP socket where the system allows one, else a raw one; on
// Windows through the system's ICMP helper.
typedef uintptr_t PlatPinger;
#define PLAT_NO_PINGER ((PlatPinger)0)

// Opens a pinger for the address (network order).  Returns PLAT_NO_PINGER
// when ICMP echo cannot be had here, with the error code pending.
PlatPinger platOpenPinger(uint32_t ulAddr);

// Sends one echo request.  Returns 1, or 0 when it could not be sent.
int platSendEcho(PlatPinger pinger);

// Without waiting: 1 once an echo reply of the pinger's address has come
// to any of its requests, 0 while none has.
int platEchoReplied(PlatPinger pinger);

void platClosePinger(PlatPinger pinger);

// The process and its workstation, for a record that names who wrote it.

// The running process's id.
unsigned long platProcessId(void);

// 1 while a process of that id runs on this workstation, 0 when none does.
int platProcessAlive(unsigned long ulId);

// The workstation's name.  Returns 1, or 0 when it is unknown (the buffer
// then holds "").
int platHostName(char *pszName, int nSize);

// Fills the buffer with bytes from the system's source of randomness.
// Returns 1, or 0 when none can be had.
int platRandomBytes(void *pBuffer, int nSize);

#endif
