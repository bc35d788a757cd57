// SPDX-License-Identifier: Apache-2.0
// The companions' services (platform_companions.h) on Windows: standard
// input and the help switch, files compared, removed and appended to,
// folders, the console, child processes in a job object and their pipes,
// the console's control events, the ICMP helper of iphlpapi for the echo
// requests, the process and its workstation, and rand_s.  Built into the
// companions' platform library, never into zvloader.exe.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// rand_s, the system's generator, for random bytes.
#ifndef _CRT_RAND_S
#define _CRT_RAND_S
#endif
#include <winsock2.h>
#include <windows.h>
// The ICMP helper: after windows.h and winsock2.h, which it builds on.
#include <iphlpapi.h>
#include <icmpapi.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform_internal.h"

int platIsHelpSwitch(const char *pszArg) { return strcmp(pszArg, "/?") == 0; }

FILE *platStandardInput(void) {
  _setmode(_fileno(stdin), _O_BINARY);
  return stdin;
}

void platLocalDateTime(PlatDateTime *pTime) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  *pTime = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

// The volume and index that identify an open file; 0 when it cannot be
// opened.
static int fileIdentity(const char *pszPath, BY_HANDLE_FILE_INFORMATION *pInfo) {
  HANDLE h = CreateFileA(pszPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    SetLastError(0);
    return 0;
  }
  int bOk = GetFileInformationByHandle(h, pInfo) != 0;
  CloseHandle(h);
  return bOk;
}

int platSameFile(const char *pszA, const char *pszB) {
  BY_HANDLE_FILE_INFORMATION a, b;
  return fileIdentity(pszA, &a) && fileIdentity(pszB, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

int platIsLink(const char *pszPath) {
  DWORD dwAttributes = GetFileAttributesA(pszPath);
  if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
    SetLastError(0);
    return 0;
  }
  return (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int platIsRegularFile(FILE *pFile) {
  HANDLE h = (HANDLE)_get_osfhandle(_fileno(pFile));
  return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_DISK;
}

int platIsStandardInput(const char *pszPath) {
  BY_HANDLE_FILE_INFORMATION a, b;
  HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  if (h == NULL || h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(h, &a)) {
    SetLastError(0);
    return 0;
  }
  return fileIdentity(pszPath, &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Appends one argument to the command line, quoted as the C runtime's
// reader of the command line takes it apart.  Returns the new length, or
// -1 when it does not fit.
static int appendArgument(char *pszLine, int n, int nSize, const char *pszArg) {
  int bQuote = *pszArg == '\0' || strpbrk(pszArg, " \t\"") != NULL;
  char *p = pszLine + n;
  char *pEnd = pszLine + nSize - 1;  // room for the NUL
  if (n > 0 && p < pEnd) *p++ = ' ';
  if (bQuote && p < pEnd) *p++ = '"';
  int nBackslashes = 0;  // not written yet: their number depends on what follows
  for (;; pszArg++) {
    if (*pszArg == '\\') {
      nBackslashes++;
      continue;
    }
    // Before a quote, and before the closing quote, each backslash is doubled.
    int bEnd = *pszArg == '\0';
    int nWrite = (*pszArg == '"' || (bEnd && bQuote)) ? 2 * nBackslashes
                                                       : nBackslashes;
    if (*pszArg == '"') nWrite++;  // the quote's own escape
    for (int i = 0; i < nWrite && p < pEnd; i++) *p++ = '\\';
    nBackslashes = 0;
    if (bEnd) break;
    if (p < pEnd) *p++ = *pszArg;
  }
  if (bQuote && p < pEnd) *p++ = '"';
  if (p >= pEnd) return -1;
  *p = '\0';
  return (int)(p - pszLine);
}

// The job that holds every child (see platStartChildTo).
static HANDLE s_hJob = NULL;

// The child's output: an inheritable handle, or PLAT_NO_OUTPUT
// (INVALID_HANDLE_VALUE) for none.
int platStartChildTo(const char *const *ppszArgv, const char *pszDir, const char *pszOutput,
                     PlatOutput output, PlatChild *pChild) {
  static_assert(sizeof(PlatOutput) == sizeof(HANDLE), "handle size");
  HANDLE hOutput = (HANDLE)output;
  static char s_szLine[32768];  // the longest command line Windows takes
  int n = 0;
  for (int i = 0; ppszArgv[i] != NULL && n >= 0; i++)
    n = appendArgument(s_szLine, n, sizeof(s_szLine), ppszArgv[i]);
  if (n < 0) return 0;
  STARTUPINFOA si;
  memset(&si, 0, sizeof(si));
  si.cb = sizeof(si);
  HANDLE hOut = INVALID_HANDLE_VALUE;
  if (pszOutput != NULL) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    hOut = CreateFileA(pszOutput, FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (hOut == INVALID_HANDLE_VALUE) return 0;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = hOut;
    si.hStdError = hOut;
  } else if (hOutput != INVALID_HANDLE_VALUE) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = hOutput;
    si.hStdError = hOutput;
  }
  // A child inherits whether Ctrl+C is ignored: it must take it as usual.
  SetConsoleCtrlHandler(NULL, FALSE);
  fflush(stdout);
  // A child does not outlive its parent: all of them belong to a job that
  // ends them when the parent's handle to it closes, at its exit.
  if (s_hJob == NULL) {
    s_hJob = CreateJobObjectA(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    memset(&limits, 0, sizeof(limits));
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (s_hJob != NULL)
      SetInformationJobObject(s_hJob, JobObjectExtendedLimitInformation,
                              &limits, sizeof(limits));
  }
  PROCESS_INFORMATION pi;
  BOOL bStarted = CreateProcessA(NULL, s_szLine, NULL, NULL, TRUE, 0, NULL,
                                 pszDir, &si, &pi);
  if (hOut != INVALID_HANDLE_VALUE) CloseHandle(hOut);
  if (!bStarted) return 0;
  if (s_hJob != NULL) AssignProcessToJobObject(s_hJob, pi.hProcess);
  CloseHandle(pi.hThread);
  *pChild = (PlatChild)pi.hProcess;
  return 1;
}

int platWaitChild(PlatChild child, unsigned long ulMilliseconds,
                  int *pnStatus) {
  if (WaitForSingleObject((HANDLE)child, (DWORD)ulMilliseconds) !=
      WAIT_OBJECT_0)
    return 0;
  DWORD dwCode = 0;
  GetExitCodeProcess((HANDLE)child, &dwCode);
  CloseHandle((HANDLE)child);
  *pnStatus = (int)(dwCode & 0xFF);
  return 1;
}

// The exit code that Ctrl+C gives a console program.
#define STATUS_CONTROL_C_EXIT_CODE 0xC000013A

void platStopChild(PlatChild child) {
  TerminateProcess((HANDLE)child, STATUS_CONTROL_C_EXIT_CODE);
}

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

int platIsTerminal(void) {
  HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD dwMode;
  if (hOut == INVALID_HANDLE_VALUE || hOut == NULL || !GetConsoleMode(hOut, &dwMode))
    return 0;
  if (dwMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return 1;
  return SetConsoleMode(hOut, dwMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int platMakeDirectory(const char *pszPath) {
  return CreateDirectoryA(pszPath, NULL) != 0 || platIsDirectory(pszPath);
}

int platRemoveDirectory(const char *pszPath) { return RemoveDirectoryA(pszPath) != 0; }

int platReserveFile(const char *pszPath, long lBytes) {
  HANDLE hFile = CreateFileA(pszPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
  if (hFile == INVALID_HANDLE_VALUE) return 0;
  // The end set beyond the data allocates its clusters (not a sparse file).
  LARGE_INTEGER size;
  size.QuadPart = lBytes > 0 ? lBytes : 0;
  int bOk = SetFilePointerEx(hFile, size, NULL, FILE_BEGIN) && SetEndOfFile(hFile);
  if (!CloseHandle(hFile)) bOk = 0;
  if (!bOk) DeleteFileA(pszPath);
  return bOk;
}

int platAppendToFile(const char *pszPath, const char *pData, int nLength) {
  // Append-only access: each write lands at the end, whoever else appends
  // (a child's output handle is opened the same way).
  HANDLE hFile = CreateFileA(pszPath, FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (hFile == INVALID_HANDLE_VALUE) return 0;
  DWORD dwWritten = 0;
  int bOk = nLength <= 0 ||
            (WriteFile(hFile, pData, (DWORD)nLength, &dwWritten, NULL) &&
             dwWritten == (DWORD)nLength);
  CloseHandle(hFile);
  return bOk;
}

int platProgramBeside(const char *pszName, char *pszPath, int nSize) {
  char szSelf[MAX_PATH + 1];
  DWORD dwLength = GetModuleFileNameA(NULL, szSelf, sizeof(szSelf));
  if (dwLength == 0 || dwLength >= sizeof(szSelf)) return 0;
  szSelf[dwLength] = '\0';
  char *pSeparator = strrchr(szSelf, '\\');
  char *pSlash = strrchr(szSelf, '/');
  if (pSeparator == NULL || (pSlash != NULL && pSlash > pSeparator))
    pSeparator = pSlash;
  if (pSeparator == NULL) return 0;
  pSeparator[1] = '\0';
  int nWritten = snprintf(pszPath, (size_t)nSize, "%s%s.exe", szSelf, pszName);
  return nWritten > 0 && nWritten < nSize;
}

// Children watched through pipes, and interruptions (see
// platform_companions.h).

int platStartChildPiped(const char *const *ppszArgv, const char *pszDir,
                        PlatChild *pChild, PlatPipe *pPipe) {
  // The write end is inheritable only until the child has its copy; one
  // thread starts the children, so no other child can take it meanwhile.
  SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
  HANDLE hRead = NULL, hWrite = NULL;
  if (!CreatePipe(&hRead, &hWrite, &sa, 0)) return 0;
  SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
  int bStarted = platStartChildTo(ppszArgv, pszDir, NULL, (PlatOutput)hWrite, pChild);
  DWORD dwSaved = GetLastError();
  CloseHandle(hWrite);  // the pipe ends when the child's copy closes
  if (!bStarted) {
    CloseHandle(hRead);
    SetLastError(dwSaved);
    return 0;
  }
  *pPipe = (PlatPipe)hRead;
  return 1;
}

int platReadPipe(PlatPipe pipe, char *pBuffer, int nSize) {
  DWORD dwWaiting = 0;
  if (!PeekNamedPipe((HANDLE)pipe, NULL, 0, NULL, &dwWaiting, NULL))
    return -1;  // broken: every writer is gone
  if (dwWaiting == 0 || nSize <= 0) return 0;
  DWORD dwRead = 0;
  DWORD dwWant = dwWaiting < (DWORD)nSize ? dwWaiting : (DWORD)nSize;
  if (!ReadFile((HANDLE)pipe, pBuffer, dwWant, &dwRead, NULL)) return -1;
  return (int)dwRead;
}

void platClosePipe(PlatPipe pipe) { CloseHandle((HANDLE)pipe); }

void platKillChild(PlatChild child) {
  // The job's own limit ends its processes this way too.
  TerminateProcess((HANDLE)child, 1);
}

static volatile LONG s_bInterrupted;
static HANDLE s_hHandled;  // set once the record is written

static BOOL WINAPI noteInterruption(DWORD dwType) {
  InterlockedExchange(&s_bInterrupted, 1);
  // A closed console, a log-off or a shut-down ends the process when this
  // returns: it waits (the system allows about five seconds) for the
  // record.
  if (dwType == CTRL_CLOSE_EVENT || dwType == CTRL_LOGOFF_EVENT ||
      dwType == CTRL_SHUTDOWN_EVENT) {
    if (s_hHandled != NULL) WaitForSingleObject(s_hHandled, 4500);
  }
  return TRUE;
}

int platCatchInterruptions(void) {
  s_hHandled = CreateEventA(NULL, TRUE, FALSE, NULL);
  // Ctrl+C may have been ignored since the start (a background job).
  SetConsoleCtrlHandler(NULL, FALSE);
  return SetConsoleCtrlHandler(noteInterruption, TRUE) != 0;
}

int platInterrupted(void) { return InterlockedCompareExchange(&s_bInterrupted, 0, 0) != 0; }

void platInterruptionHandled(void) {
  if (s_hHandled != NULL) SetEvent(s_hHandled);
}

int platTerminalSize(int *pnColumns, int *pnRows) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  int nColumns = info.srWindow.Right - info.srWindow.Left + 1;
  int nRows = info.srWindow.Bottom - info.srWindow.Top + 1;
  if (nColumns <= 0 || nRows <= 0) return 0;
  *pnColumns = nColumns;
  *pnRows = nRows;
  return 1;
}

// ICMP echo through the system's ICMP helper, asked without waiting: one
// request at a time, its reply (or its time-out) signalled on an event.
#define ECHO_PAYLOAD "zvfleet: back online?"
#define ECHO_TIMEOUT_MS 1000
#define ECHO_REPLY_SIZE (sizeof(ICMP_ECHO_REPLY) + sizeof(ECHO_PAYLOAD) + 8 + 64)

struct WinPinger {
  HANDLE hIcmp;
  HANDLE hEvent;
  uint32_t ulAddr;
  int bPending;  // a request is out: its reply buffer is the helper's
  int bReplied;
  unsigned char abReply[ECHO_REPLY_SIZE];
};

// Takes the outcome of the request that is out, once it has one.
static void takeEchoOutcome(WinPinger *p) {
  if (!p->bPending || WaitForSingleObject(p->hEvent, 0) != WAIT_OBJECT_0) return;
  p->bPending = 0;
  if (IcmpParseReplies(p->abReply, (DWORD)sizeof(p->abReply)) == 0) return;
  const ICMP_ECHO_REPLY *pReply = (const ICMP_ECHO_REPLY *)p->abReply;
  if (pReply->Status == IP_SUCCESS && pReply->Address == p->ulAddr) p->bReplied = 1;
}

PlatPinger platOpenPinger(uint32_t ulAddr) {
  WinPinger *p = (WinPinger *)calloc(1, sizeof(WinPinger));
  if (p == NULL) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return PLAT_NO_PINGER;
  }
  p->ulAddr = ulAddr;
  p->hIcmp = IcmpCreateFile();
  p->hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
  if (p->hIcmp == INVALID_HANDLE_VALUE || p->hEvent == NULL) {
    DWORD dwError = GetLastError();
    if (p->hIcmp != INVALID_HANDLE_VALUE) IcmpCloseHandle(p->hIcmp);
    if (p->hEvent != NULL) CloseHandle(p->hEvent);
    free(p);
    SetLastError(dwError);
    return PLAT_NO_PINGER;
  }
  return (PlatPinger)p;
}

int platSendEcho(PlatPinger pinger) {
  WinPinger *p = (WinPinger *)pinger;
  takeEchoOutcome(p);
  if (p->bPending) return 1;  // the last one is still out: it stands for this one
  char abData[] = ECHO_PAYLOAD;
  DWORD dwReplies = IcmpSendEcho2(p->hIcmp, p->hEvent, NULL, NULL, (IPAddr)p->ulAddr, abData,
                                  (WORD)sizeof(abData), NULL, p->abReply,
                                  (DWORD)sizeof(p->abReply), ECHO_TIMEOUT_MS);
  if (dwReplies == 0 && GetLastError() == ERROR_IO_PENDING) {
    p->bPending = 1;
    return 1;
  }
  if (dwReplies == 0) return 0;
  // Answered at once (the helper may complete a request before it returns).
  const ICMP_ECHO_REPLY *pReply = (const ICMP_ECHO_REPLY *)p->abReply;
  if (pReply->Status == IP_SUCCESS && pReply->Address == p->ulAddr) p->bReplied = 1;
  return 1;
}

int platEchoReplied(PlatPinger pinger) {
  WinPinger *p = (WinPinger *)pinger;
  takeEchoOutcome(p);
  return p->bReplied;
}

void platClosePinger(PlatPinger pinger) {
  WinPinger *p = (WinPinger *)pinger;
  if (p == NULL) return;
  // The helper writes into the reply buffer until the request ends.
  if (p->bPending) WaitForSingleObject(p->hEvent, ECHO_TIMEOUT_MS + 1000);
  IcmpCloseHandle(p->hIcmp);
  CloseHandle(p->hEvent);
  free(p);
}

unsigned long platProcessId(void) { return (unsigned long)GetCurrentProcessId(); }

int platProcessAlive(unsigned long ulId) {
  if (ulId == 0) return 0;
  DWORD dwSaved = GetLastError();
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)ulId);
  if (h == NULL) {
    // A process of another user cannot be opened, but runs.
    int bDenied = GetLastError() == ERROR_ACCESS_DENIED;
    SetLastError(dwSaved);
    return bDenied;
  }
  int bAlive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  SetLastError(dwSaved);
  return bAlive;
}

int platHostName(char *pszName, int nSize) {
  if (nSize <= 0) return 0;
  char szName[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD dwSize = sizeof(szName);
  if (!GetComputerNameA(szName, &dwSize)) {
    pszName[0] = '\0';
    return 0;
  }
  snprintf(pszName, (size_t)nSize, "%s", szName);
  return 1;
}

int platRandomBytes(void *pBuffer, int nSize) {
  // The system's generator, as rand_s reads it.
  unsigned char *pb = (unsigned char *)pBuffer;
  for (int i = 0; i < nSize; i += 4) {
    unsigned int uValue = 0;
    if (rand_s(&uValue) != 0) return 0;
    for (int j = 0; j < 4 && i + j < nSize; j++) pb[i + j] = (unsigned char)(uValue >> (8 * j));
  }
  return 1;
}

int platRemoveFile(const char *pszPath) { return DeleteFileA(pszPath) != 0; }

int platTempFolder(char *pszPath, int nSize) {
  char szPath[MAX_PATH + 1];
  DWORD dwLength = GetTempPathA(sizeof(szPath), szPath);
  if (dwLength == 0 || dwLength >= sizeof(szPath)) return 0;
  // Without its closing separator.
  if (dwLength > 1 && (szPath[dwLength - 1] == '\\' || szPath[dwLength - 1] == '/'))
    szPath[--dwLength] = '\0';
  int n = snprintf(pszPath, (size_t)nSize, "%s", szPath);
  return n > 0 && n < nSize;
}

int platWaitSockets(const PlatSocket *aSockets, int nSockets, unsigned long ulMilliseconds,
                    int *pnReady) {
  static WSAPOLLFD s_aPoll[PLAT_WAIT_SOCKETS];
  static int s_anIndex[PLAT_WAIT_SOCKETS];
  if (nSockets < 0 || nSockets > PLAT_WAIT_SOCKETS) return -1;
  ULONG nPolled = 0;
  for (int i = 0; i < nSockets; i++) {
    if (aSockets[i] == PLAT_NO_SOCKET) continue;
    s_aPoll[nPolled].fd = (SOCKET)aSockets[i];
    s_aPoll[nPolled].events = POLLRDNORM;
    s_aPoll[nPolled].revents = 0;
    s_anIndex[nPolled++] = i;
  }
  if (nPolled == 0) {  // WSAPoll takes no empty set
    Sleep((DWORD)ulMilliseconds);
    return 0;
  }
  int r = WSAPoll(s_aPoll, nPolled, (INT)ulMilliseconds);
  if (r <= 0) return r == 0 ? 0 : -1;
  int nFound = -1;
  for (int i = 0; i < (int)nPolled; i++)
    if (s_aPoll[i].revents != 0 && (nFound < 0 || (s_anIndex[nFound] < *pnReady && s_anIndex[i] >= *pnReady)))
      nFound = i;
  *pnReady = s_anIndex[nFound];
  return 1;
}
