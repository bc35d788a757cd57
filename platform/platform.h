// SPDX-License-Identifier: Apache-2.0
// The operating-system services of ZVloader itself: socket start-up, IPv4
// UDP sockets with a bounded wait for a datagram, thread start, the endless
// sleep, the clock and the local time, the console write, the files the
// tool reads and writes, the calling thread's pending error code with its
// system text, and the end of the process.
//
// This is the only platform header that the tool's own folders (app, base,
// crypto, image, net, monitor) may include.  What the companion programs
// need besides stands in platform_companions.h, what only the tests need
// in platform_testing.h; both build on this one.
//
// Exactly one of platform_posix.cc and platform_win32.cc is built into a
// program (CMake chooses), with console_write.cc beside it; tests may link
// a scripted stand-in instead.  All operating-system differences live
// behind these headers.  Conventions follow the rest of the tool: plain
// functions; a result of 1 (or a byte count) means success, 0 (or -1
// where a count is returned) failure, with the error code left pending on
// the calling thread.
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
// noted (the companions ask platConsoleFailed).
void platConsoleWrite(const char *pText, int nLength);

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

// Renames the file pszFrom to pszTo in one step, replacing a file of that
// name (on Windows with the system's replace-on-move).  Returns 1, or 0
// with nothing changed.
int platReplaceFile(const char *pszFrom, const char *pszTo);

// Ends the whole process with the status, the console flushed.
[[noreturn]] void platExit(int nStatus);

#endif
