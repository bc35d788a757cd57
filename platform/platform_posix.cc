// SPDX-License-Identifier: Apache-2.0
// The tool's services (platform.h) on POSIX systems (Linux): BSD sockets,
// poll() for the bounded wait, pthreads, localtime_r, errno with strerror
// for the pending error and its text, and the files the tool reads and
// writes.  The socket library needs no start-up here.  What only the
// companions use stands in platform_posix_companions.cc, what only the
// tests use in platform_posix_testing.cc: zvloader links none of it.
#include "platform/platform.h"
#include "platform/inet_address.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

void platInitProcess(void) {
  // A closed pipe on standard output (`zvloader ... | head -1`) makes the
  // writes fail with EPIPE; the update goes on.
  signal(SIGPIPE, SIG_IGN);
}

int platSocketStartup(void) { return 1; }

PlatSocket platUdpSocket(void) {
  // Not inherited by child processes (zvfleet holds the debug port).
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? PLAT_NO_SOCKET : (PlatSocket)fd;
}

static void fillSockaddr(struct sockaddr_in *pSa, uint32_t ulAddr,
                         uint16_t usPort) {
  *pSa = sockaddr_in();
  pSa->sin_family = AF_INET;
  pSa->sin_port = htons(usPort);
  pSa->sin_addr.s_addr = ulAddr;
}

int platBind(PlatSocket s, uint32_t ulAddr, uint16_t usPort) {
  struct sockaddr_in sa;
  fillSockaddr(&sa, ulAddr, usPort);
  return bind((int)s, (struct sockaddr *)&sa, sizeof(sa)) == 0;
}

void platCloseSocket(PlatSocket s) {
  int nSaved = errno;  // a report after the close shows the earlier failure
  close((int)s);
  errno = nSaved;
}

uint32_t platInetAddr(const char *pszText) { return inetAddressOf(pszText); }

int platAddressText(uint32_t ulAddr, char *pszBuffer, int nSize) {
  struct in_addr in;
  in.s_addr = ulAddr;
  return inet_ntop(AF_INET, &in, pszBuffer, (socklen_t)nSize) != NULL;
}

int platSendTo(PlatSocket s, const void *pData, int nLength,
               const PlatAddress *pTo) {
  struct sockaddr_in sa;
  fillSockaddr(&sa, pTo->ulAddr, pTo->usPort);
  ssize_t n = sendto((int)s, pData, (size_t)nLength, 0,
                     (struct sockaddr *)&sa, sizeof(sa));
  return (int)n;  // -1 on failure
}

int platRecvFrom(PlatSocket s, void *pBuffer, int nSize, PlatAddress *pFrom) {
  struct sockaddr_in sa;
  socklen_t nSaLen = sizeof(sa);
  memset(&sa, 0, sizeof(sa));
  // MSG_TRUNC makes the result the datagram's real length, so that an
  // over-long datagram fails here as it does on Windows.
  ssize_t n = recvfrom((int)s, pBuffer, (size_t)nSize, MSG_TRUNC,
                       (struct sockaddr *)&sa, &nSaLen);
  if (pFrom != NULL) {
    pFrom->ulAddr = sa.sin_addr.s_addr;
    pFrom->usPort = ntohs(sa.sin_port);
  }
  if (n < 0) {
    if (errno == EBADF || errno == ENOTSOCK) return PLAT_RECV_CLOSED;
    return errno == EAGAIN || errno == EWOULDBLOCK ? PLAT_RECV_NOTHING : -1;
  }
  if (n > nSize) {
    errno = EMSGSIZE;
    return PLAT_RECV_TRUNCATED;
  }
  return (int)n;
}

// The event of a socket: here simply the socket that poll() watches.  A
// program binds one or two; the fixed pool says no when it is used up.
#define EVENT_POOL_SIZE 16
struct PosixEvent {
  int fd;
};
static PosixEvent s_aEvents[EVENT_POOL_SIZE];
static int s_nEvents;
static pthread_mutex_t s_eventLock = PTHREAD_MUTEX_INITIALIZER;

PlatEvent platCreateEvent(void) {
  PosixEvent *pEvent = NULL;
  pthread_mutex_lock(&s_eventLock);
  if (s_nEvents < EVENT_POOL_SIZE) pEvent = &s_aEvents[s_nEvents++];
  pthread_mutex_unlock(&s_eventLock);
  if (pEvent == NULL) errno = EMFILE;
  return pEvent;
}

int platEventSelectRead(PlatSocket s, PlatEvent hEvent) {
  if (hEvent == NULL) return 0;  // none was left to make
  if (fcntl((int)s, F_SETFL, fcntl((int)s, F_GETFL) | O_NONBLOCK) != 0)
    return 0;
  ((PosixEvent *)hEvent)->fd = (int)s;
  return 1;
}

int platWaitEvent(PlatEvent hEvent, unsigned long ulMilliseconds) {
  struct pollfd pfd;
  pfd.fd = ((PosixEvent *)hEvent)->fd;
  pfd.events = POLLIN;
  pfd.revents = 0;
  unsigned long ulStart = platMilliseconds();
  for (;;) {
    // A signal that interrupts the wait makes it go on for the time left.
    unsigned long ulSpent = platMilliseconds() - ulStart;
    int nLeft = (int)(std::max(ulMilliseconds, ulSpent) - ulSpent);
    int r = poll(&pfd, 1, nLeft);
    if (r > 0) return 1;
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

static void *threadTrampoline(void *pArg) {
  int (*pfnRoutine)(void);
  memcpy(&pfnRoutine, &pArg, sizeof(pfnRoutine));
  int nStatus = pfnRoutine();
  if (nStatus != PLAT_THREAD_ENDS_ALONE) platExit(nStatus);
  return NULL;
}

int platStartThread(int (*pfnRoutine)(void)) {
  pthread_t thread;
  void *pArg;
  static_assert(sizeof(pArg) == sizeof(pfnRoutine), "code pointer size");
  memcpy(&pArg, &pfnRoutine, sizeof(pArg));
  int nResult = pthread_create(&thread, NULL, threadTrampoline, pArg);
  if (nResult != 0) {
    errno = nResult;
    return 0;
  }
  pthread_detach(thread);
  return 1;
}

int platSleepForever(void) {
  for (;;) pause();
}

unsigned long platMilliseconds(void) {
  return (unsigned long)std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void platLocalTime(PlatTime *pTime) {
  time_t now = time(NULL);
  struct tm tmLocal;
  localtime_r(&now, &tmLocal);
  pTime->nDay = tmLocal.tm_mday;
  pTime->nHour = tmLocal.tm_hour;
  pTime->nMinute = tmLocal.tm_min;
  pTime->nSecond = tmLocal.tm_sec;
}

int platPendingError(void) { return errno; }

int platErrorText(int nCode, char *pszBuffer, int nSize) {
  char szText[1024];
  szText[0] = '\0';
  // The XSI strerror_r fills the buffer; the GNU one returns its own text.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char *pszText = strerror_r(nCode, szText, sizeof(szText));
#else
  const char *pszText = strerror_r(nCode, szText, sizeof(szText)) == 0
                            ? szText
                            : "";
#endif
  int n = (int)strlen(pszText);
  if (nSize > 0) snprintf(pszBuffer, (size_t)nSize, "%s", pszText);
  return n;
}

int platIsDirectory(const char *pszPath) {
  struct stat st;
  return stat(pszPath, &st) == 0 && S_ISDIR(st.st_mode);
}

PlatPathKind platPathKind(const char *pszPath) {
  struct stat st;
  if (stat(pszPath, &st) != 0) return PLAT_PATH_NONE;
  if (!S_ISREG(st.st_mode)) return PLAT_PATH_OTHER;
  return access(pszPath, W_OK) == 0 ? PLAT_PATH_FILE : PLAT_PATH_READONLY;
}

FILE *platCreateNewFile(const char *pszPath) {
  int fd = open(pszPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH);
  if (fd < 0) return NULL;
  FILE *pFile = fdopen(fd, "wb");
  if (pFile == NULL) {
    close(fd);
    unlink(pszPath);
  }
  return pFile;
}

int platReplaceFile(const char *pszFrom, const char *pszTo) {
  // The file replaced keeps its owner and its permission bits (a key's
  // build kept private stays private); one whose owner cannot be kept is
  // not replaced.  The owner first: a change of owner may clear set-id bits.
  struct stat st;
  if (stat(pszTo, &st) == 0 && S_ISREG(st.st_mode) &&
      (chown(pszFrom, st.st_uid, st.st_gid) != 0 || chmod(pszFrom, st.st_mode & 07777) != 0))
    return 0;
  return rename(pszFrom, pszTo) == 0;
}

void platExit(int nStatus) {
  fflush(stdout);
  _Exit(nStatus);
}
