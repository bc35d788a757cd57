// SPDX-License-Identifier: Apache-2.0
// The operating-system services that ZVloader needs, and nothing else:
// socket start-up, IPv4 UDP sockets with a bounded wait for a datagram,
// thread start, the endless sleep, the local time, the calling thread's
// pending error code with its system text, and the end of the process.
//
// Exactly one of platform_posix.cc and platform_win32.cc is built into the
// tool (CMake chooses); tests may link a scripted stand-in instead.  All
// operating-system differences live behind this header.  Conventions follow
// the rest of the tool: plain functions; a result of 1 (or a byte count)
// means success, 0 (or -1 where a count is returned) failure, with the error
// code left pending on the calling thread.
#ifndef ZV_PLATFORM_H
#define ZV_PLATFORM_H

#include <stdint.h>
#include <stdio.h>

// A socket handle (a file descriptor on POSIX, a SOCKET on Windows).
typedef uintptr_t PlatSocket;
#define PLAT_NO_SOCKET (~(PlatSocket)0)

// An event that becomes signalled when a datagram waits on the socket it was
// bound to (auto-reset; an opaque handle).
typedef void *PlatEvent;

// An IPv4 endpoint: the address in network byte order, as inet_addr yields
// it, and the port in host byte order.
struct PlatAddress {
  uint32_t ulAddr;
  uint16_t usPort;
};

// The four fields of the local time that the debug listener prints.
struct PlatTime {
  int nDay;     // day of the month, 1 to 31
  int nHour;    // 0 to 23
  int nMinute;  // 0 to 59
  int nSecond;  // 0 to 59
};

// receive result of a datagram longer than the buffer: the buffer holds its
// first bytes, the rest is lost, and the "message too long" code is pending.
#define PLAT_RECV_TRUNCATED (-2)
// receive result on a socket bound to an event when no datagram waits after
// all (the event woke for nothing): not a failure, there is just nothing yet.
#define PLAT_RECV_NOTHING (-3)
// receive result on a socket that is no longer open: nothing will come.
#define PLAT_RECV_CLOSED (-4)

// Process-wide set-up, called first by every program: on POSIX a write to
// a closed output pipe must fail like any other write instead of ending
// the process.
void platInitProcess(void);

// Initialises the socket library (Windows Sockets version 2.1).  Returns 1,
// or 0 on failure.
int platSocketStartup(void);

// Writes the bytes to standard output in one piece and flushes them, so
// that a message is never split between threads and survives Ctrl+C.  A
// failed write (a closed pipe, say) does not stop the program; it is only
// noted (platConsoleFailed).
void platConsoleWrite(const char *pText, int nLength);

// The same for standard error, where the companions put their errors.
void platErrorWrite(const char *pText, int nLength);

// 1 once a write of standard output has failed (a full disk, a closed
// pipe), 0 while none has.
int platConsoleFailed(void);

// 1 for the system's own way of asking a program for help: "/?" on
// Windows; nothing on POSIX, where that is a path.
int platIsHelpSwitch(const char *pszArg);

// Standard input, read as bytes (no line end translation).
FILE *platStandardInput(void);

// Makes a new empty file of this process in the system's folder for
// temporary files.  Returns 1 with its path, 0 when none can be made.
int platTempFile(char *pszPath, int nSize);

// Opens an IPv4 UDP socket; PLAT_NO_SOCKET on failure.  An ICMP report
// that an earlier datagram found no listener never fails a later receive
// (Windows reports it unless told not to; POSIX never does on these sockets).
PlatSocket platUdpSocket(void);

// Binds to the address (network order, 0 for any) and port (host order,
// 0 for one the system picks).  Returns 1, or 0 on failure.
int platBind(PlatSocket s, uint32_t ulAddr, uint16_t usPort);

void platCloseSocket(PlatSocket s);

// The dotted-text address in network byte order, as inet_addr reads it
// (0xFFFFFFFF for text it cannot read).
uint32_t platInetAddr(const char *pszText);

// Writes the dotted form of the address (network order) into the buffer.
// Returns 1, or 0 when the address cannot be turned into text.
int platAddressText(uint32_t ulAddr, char *pszBuffer, int nSize);

// Sends one datagram.  Returns the bytes sent or -1.
int platSendTo(PlatSocket s, const void *pData, int nLength,
               const PlatAddress *pTo);

// Receives one datagram of at most nSize bytes.  Returns its length, -1 on
// failure, PLAT_RECV_TRUNCATED when it was longer than nSize,
// PLAT_RECV_CLOSED when the socket is not open.  pFrom, when
// not null, receives the sender.
int platRecvFrom(PlatSocket s, void *pBuffer, int nSize, PlatAddress *pFrom);

// Creates an unsignalled auto-reset event; null when no more can be made
// (a program needs a few), which binding it then reports.
PlatEvent platCreateEvent(void);

// Binds the event to the socket for readability; the socket becomes
// non-blocking, as WSAEventSelect makes it.  Returns 1, or 0 on failure
// (a null event included).
int platEventSelectRead(PlatSocket s, PlatEvent hEvent);

// Waits at most ulMilliseconds for the event.  Returns 1 when it was
// signalled (a datagram waits), 0 on time-out, -1 when the wait failed.
int platWaitEvent(PlatEvent hEvent, unsigned long ulMilliseconds);

// A thread routine's result when the thread ends alone; any other result
// ends the whole process with that exit status.
#define PLAT_THREAD_ENDS_ALONE (-1000)

// Starts a thread running pfnRoutine; when the routine returns, its result
// decides whether the process ends too (see PLAT_THREAD_ENDS_ALONE).
// Returns 1 on success, 0 on failure with the error code pending.
int platStartThread(int (*pfnRoutine)(void));

// Sleeps for ever: the process ends from a thread or from outside.  (A
// stand-in for the tests returns, with the exit status that ended the run.)
int platSleepForever(void);

// Milliseconds of a clock that only moves forward, from an arbitrary start.
unsigned long platMilliseconds(void);

void platLocalTime(PlatTime *pTime);

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

// The calling thread's pending error code: the socket layer's first, the
// system's second; 0 when none is pending.
int platPendingError(void);

// The system's text for an error code.  Returns the length of the text as
// the system gives it (line end included where it has one), 0 when it has
// none.  Copies into pszBuffer, cut to nSize - 1 characters and terminated,
// the text without its line end.
int platErrorText(int nCode, char *pszBuffer, int nSize);

// 1 when the path names a directory, 0 otherwise (also when it names
// nothing).
int platIsDirectory(const char *pszPath);

// What a path names, symbolic links followed.
enum PlatPathKind {
  PLAT_PATH_NONE,     // nothing (or nothing that can be looked at)
  PLAT_PATH_FILE,     // a regular file
  PLAT_PATH_READONLY, // a regular file that this process may not write
  PLAT_PATH_OTHER     // a directory, a device, a FIFO, a socket
};
PlatPathKind platPathKind(const char *pszPath);

// Creates the file for binary writing only if nothing of that name exists
// yet.  Returns the open stream, or null when the path exists or the file
// cannot be made.
FILE *platCreateNewFile(const char *pszPath);

// 1 when both paths name the same existing file (through links or other
// spellings too), 0 otherwise.
int platSameFile(const char *pszA, const char *pszB);

// Renames the file pszFrom to pszTo in one step, replacing a file of that
// name (on Windows with the system's replace-on-move).  Returns 1, or 0
// with nothing changed.
int platReplaceFile(const char *pszFrom, const char *pszTo);

// A child process: a process id on POSIX, a process handle on Windows.
typedef uintptr_t PlatChild;

// Starts the program ppszArgv[0] (a path) with the arguments that follow it
// (the list ends with a null), in the directory pszDir (null: the current
// one); the child ends when its parent does.  Its standard output and
// standard error are appended to the file pszOutput, created when missing
// (null: they stay the caller's).  Returns 1 with the child in *pChild, 0
// when it cannot be started or its output file cannot be made.
int platStartChild(const char *const *ppszArgv, const char *pszDir,
                   const char *pszOutput, PlatChild *pChild);

// Waits at most ulMilliseconds for the child to end.  Returns 1 once it has
// ended, with its exit status in *pnStatus (the low eight bits; 128 + the
// signal number when a POSIX signal ended it), and the child is released;
// 0 while it still runs.
int platWaitChild(PlatChild child, unsigned long ulMilliseconds,
                  int *pnStatus);

// Stops the child at once, as Ctrl+C in its console would; it must still be
// waited for.
void platStopChild(PlatChild child);

// Ends the whole process with the status, the console flushed.
[[noreturn]] void platExit(int nStatus);

// The console, and what zvfleet needs besides: its output folder, the logs
// that it shares with its children, and the tool beside it.

// 1 when standard output is a terminal that takes the ANSI escape sequences
// for colour, cursor and erasing (a Windows console is switched to process
// them), 0 when it is a file or a pipe, or a console that cannot take them.
int platIsTerminal(void);

// Creates the directory (its parent must exist).  Returns 1 when it was
// made or already is a directory, 0 otherwise.
int platMakeDirectory(const char *pszPath);

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

// The read end of a pipe that carries a child's output.
typedef uintptr_t PlatPipe;

// Starts the child as platStartChild does, but its standard output and
// standard error both go into a new pipe whose read end, never blocking
// and not inherited by other children, is put in *pPipe.  Returns 1, or 0
// when the pipe or the child cannot be made.
int platStartChildPiped(const char *const *ppszArgv, const char *pszDir,
                        PlatChild *pChild, PlatPipe *pPipe);

// Reads at most nSize bytes that wait in the pipe, without waiting.
// Returns their number, 0 when nothing waits yet, -1 when nothing more can
// come (every writer has closed its end) or the read failed.
int platReadPipe(PlatPipe pipe, char *pBuffer, int nSize);

void platClosePipe(PlatPipe pipe);

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

// Removes the file.  Returns 1, or 0 when it could not be removed.
int platRemoveFile(const char *pszPath);

// The system's folder for temporary files, shared by every program of
// this workstation.  Returns 1, or 0 when it is unknown or does not fit.
int platTempFolder(char *pszPath, int nSize);

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
