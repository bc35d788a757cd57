// SPDX-License-Identifier: Apache-2.0
// The tool's services (platform.h) on Windows: Windows Sockets 2 for the
// UDP sockets, an auto-reset event bound with WSAEventSelect for the
// bounded wait, Win32 threads, Sleep, GetLocalTime, WSAGetLastError /
// GetLastError with FormatMessageA for the pending error and its text, and
// the files the tool reads and writes.  What only the companions use
// stands in platform_win32_companions.cc, what only the tests use in
// platform_win32_testing.cc: zvloader.exe links none of it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// inet_addr and inet_ntoa are the calls this tool uses; Visual C++ would
// otherwise refuse them as deprecated.
#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#endif
#include <winsock2.h>
#include <windows.h>
#include <mswsock.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/inet_address.h"
#include "platform/platform.h"

static_assert(sizeof(PlatSocket) == sizeof(SOCKET), "socket handle size");

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

void platInitProcess(void) {}

// The socket library's start-up record, one for the whole process.
static WSADATA s_wsaData;

int platSocketStartup(void) { return WSAStartup(MAKEWORD(2, 1), &s_wsaData) == 0; }

PlatSocket platUdpSocket(void) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return PLAT_NO_SOCKET;
  // Not inherited by child processes (zvfleet holds the debug port).
  SetHandleInformation((HANDLE)s, HANDLE_FLAG_INHERIT, 0);
  // Without this, the ICMP "port unreachable" that a datagram to a device
  // still booting brings back fails the next recvfrom with WSAECONNRESET;
  // POSIX ignores it on unconnected sockets, and so must we.
  BOOL bReport = FALSE;
  DWORD dwReturned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &bReport, sizeof(bReport), NULL, 0,
           &dwReturned, NULL, NULL);
  return (PlatSocket)s;
}

static void fillSockaddr(struct sockaddr_in *pSa, uint32_t ulAddr,
                         uint16_t usPort) {
  memset(pSa, 0, sizeof(*pSa));
  pSa->sin_family = AF_INET;
  pSa->sin_port = htons(usPort);
  pSa->sin_addr.s_addr = ulAddr;
}

int platBind(PlatSocket s, uint32_t ulAddr, uint16_t usPort) {
  struct sockaddr_in sa;
  fillSockaddr(&sa, ulAddr, usPort);
  return bind((SOCKET)s, (struct sockaddr *)&sa, (int)sizeof(sa)) == 0;
}

void platCloseSocket(PlatSocket s) {
  // A report after the close shows the earlier failure.
  int nSaved = WSAGetLastError();
  closesocket((SOCKET)s);
  WSASetLastError(nSaved);
}

uint32_t platInetAddr(const char *pszText) { return inetAddressOf(pszText); }

int platAddressText(uint32_t ulAddr, char *pszBuffer, int nSize) {
  struct in_addr in;
  in.s_addr = ulAddr;
  // inet_ntoa's text lives in a buffer of the calling thread; copy it out
  // at once.
  const char *pszText = inet_ntoa(in);
  if (pszText == NULL || nSize <= 0) return 0;
  size_t nLength = strlen(pszText);
  if (nLength >= (size_t)nSize) return 0;
  memcpy(pszBuffer, pszText, nLength + 1);
  return 1;
}

int platSendTo(PlatSocket s, const void *pData, int nLength,
               const PlatAddress *pTo) {
  struct sockaddr_in sa;
  fillSockaddr(&sa, pTo->ulAddr, pTo->usPort);
  int n = sendto((SOCKET)s, (const char *)pData, nLength, 0,
                 (struct sockaddr *)&sa, (int)sizeof(sa));
  return n == SOCKET_ERROR ? -1 : n;
}

int platRecvFrom(PlatSocket s, void *pBuffer, int nSize, PlatAddress *pFrom) {
  struct sockaddr_in sa;
  int nSaLen = (int)sizeof(sa);
  memset(&sa, 0, sizeof(sa));
  int n = recvfrom((SOCKET)s, (char *)pBuffer, nSize, 0,
                   (struct sockaddr *)&sa, &nSaLen);
  if (pFrom != NULL) {
    pFrom->ulAddr = sa.sin_addr.s_addr;
    pFrom->usPort = ntohs(sa.sin_port);
  }
  if (n == SOCKET_ERROR) {
    int nCode = WSAGetLastError();
    // An over-long datagram: its first nSize bytes stand in the buffer.
    if (nCode == WSAEMSGSIZE) return PLAT_RECV_TRUNCATED;
    if (nCode == WSAENOTSOCK) return PLAT_RECV_CLOSED;
    return nCode == WSAEWOULDBLOCK ? PLAT_RECV_NOTHING : -1;
  }
  return n;
}

PlatEvent platCreateEvent(void) {
  return (PlatEvent)CreateEventA(NULL, FALSE, FALSE, NULL);
}

// The socket becomes non-blocking here; it is read only after the event
// has reported a datagram.
int platEventSelectRead(PlatSocket s, PlatEvent hEvent) {
  return hEvent != NULL &&
         WSAEventSelect((SOCKET)s, (WSAEVENT)hEvent, FD_READ) == 0;
}

int platWaitEvent(PlatEvent hEvent, unsigned long ulMilliseconds) {
  HANDLE ahEvents[1];
  ahEvents[0] = (HANDLE)hEvent;
  DWORD dwResult =
      WaitForMultipleObjects(1, ahEvents, FALSE, (DWORD)ulMilliseconds);
  if (dwResult == WAIT_OBJECT_0) return 1;
  if (dwResult == WAIT_TIMEOUT) return 0;
  return -1;
}

// The thread's start routine receives the tool's routine as its argument.
static DWORD WINAPI threadTrampoline(LPVOID pArg) {
  int (*pfnRoutine)(void);
  memcpy(&pfnRoutine, &pArg, sizeof(pfnRoutine));
  int nStatus = pfnRoutine();
  if (nStatus != PLAT_THREAD_ENDS_ALONE) platExit(nStatus);
  return 0;
}

int platStartThread(int (*pfnRoutine)(void)) {
  LPVOID pArg;
  static_assert(sizeof(pArg) == sizeof(pfnRoutine), "code pointer size");
  memcpy(&pArg, &pfnRoutine, sizeof(pArg));
  HANDLE hThread = CreateThread(NULL, 0, threadTrampoline, pArg, 0, NULL);
  if (hThread == NULL) return 0;
  // Nobody waits for the thread; its handle is not needed.
  CloseHandle(hThread);
  return 1;
}

int platSleepForever(void) {
  for (;;) Sleep(INFINITE);
}

unsigned long platMilliseconds(void) {
  return (unsigned long)GetTickCount64();
}

void platLocalTime(PlatTime *pTime) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  pTime->nDay = st.wDay;
  pTime->nHour = st.wHour;
  pTime->nMinute = st.wMinute;
  pTime->nSecond = st.wSecond;
}

int platPendingError(void) {
  int nCode = WSAGetLastError();
  if (nCode == 0) nCode = (int)GetLastError();
  return nCode;
}

int platErrorText(int nCode, char *pszBuffer, int nSize) {
  // Asking for the text must not change the code that is pending.
  DWORD dwSaved = GetLastError();
  char *pszText = NULL;
  // No source, the system's default language, no insert arguments.
  DWORD dwLength = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
          FORMAT_MESSAGE_ARGUMENT_ARRAY,
      NULL, (DWORD)nCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
      (LPSTR)&pszText, 0, NULL);
  int n = (int)dwLength;
  if (pszText == NULL || n < 0) n = 0;
  if (nSize > 0) {
    // Every system text ends in CR LF: drop those two characters (fewer
    // when the text does not end in a line end).
    int nKeep = n;
    for (int i = 0; i < 2 && nKeep > 0; i++) {
      char c = pszText[nKeep - 1];
      if (c != '\r' && c != '\n') break;
      nKeep--;
    }
    if (nKeep > nSize - 1) nKeep = nSize - 1;
    if (nKeep > 0) memcpy(pszBuffer, pszText, (size_t)nKeep);
    pszBuffer[nKeep] = '\0';
  }
  if (pszText != NULL) LocalFree(pszText);
  SetLastError(dwSaved);
  return n;
}

int platIsDirectory(const char *pszPath) {
  DWORD dwAttributes = GetFileAttributesA(pszPath);
  return dwAttributes != INVALID_FILE_ATTRIBUTES &&
         (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

PlatPathKind platPathKind(const char *pszPath) {
  // Opened for no access at all, only to ask what it is; a directory needs
  // the backup flag to be opened.
  HANDLE h = CreateFileA(pszPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD dwError = GetLastError();
    SetLastError(0);
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND
               ? PLAT_PATH_NONE
               : PLAT_PATH_OTHER;
  }
  BY_HANDLE_FILE_INFORMATION info;
  int bFile = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
              (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(h);
  if (!bFile) return PLAT_PATH_OTHER;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? PLAT_PATH_READONLY
                                                            : PLAT_PATH_FILE;
}

FILE *platCreateNewFile(const char *pszPath) {
  int fd = _open(pszPath, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
  if (fd < 0) return NULL;
  FILE *pFile = _fdopen(fd, "wb");
  if (pFile == NULL) {
    _close(fd);
    DeleteFileA(pszPath);
  }
  return pFile;
}

// Windows keeps a file's access rights in its folder's and its own lists,
// which a replace-on-move carries over as the system decides; the one
// permission bit that the C runtime knows, read-only, refuses a target
// before anything is written.
int platReplaceFile(const char *pszFrom, const char *pszTo) {
  // A file replaced keeps its owner, its access list and its attributes
  // where the system replaces it so; else (a system without it) it is moved over.
  DWORD dwAttributes = GetFileAttributesA(pszTo);
  if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
      ReplaceFileA(pszTo, pszFrom, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL))
    return 1;
  SetLastError(0);
  return MoveFileExA(pszFrom, pszTo, MOVEFILE_REPLACE_EXISTING) != 0;
}

void platExit(int nStatus) {
  fflush(stdout);
  // End at once: no run-time clean-up that could wait for a lock held by a
  // thread that is still receiving or printing.
  TerminateProcess(GetCurrentProcess(), (UINT)nStatus);
  ExitProcess((UINT)nStatus);
}
