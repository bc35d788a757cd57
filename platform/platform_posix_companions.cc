// SPDX-License-Identifier: Apache-2.0
// The companions' services (platform_companions.h) on POSIX systems
// (Linux): standard input and error, files compared, removed and appended
// to, folders, the terminal, child processes (on Linux a clone that shares
// memory until its exec) and their pipes, the interruption signals, ICMP
// sockets for the echo requests, the process and its workstation, and
// /dev/urandom.  Built into the companions' platform library, never into
// zvloader.
#include "platform/platform_internal.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

int platIsHelpSwitch(const char *) { return 0; }

FILE *platStandardInput(void) { return stdin; }

void platLocalDateTime(PlatDateTime *pTime) {
  time_t now = time(NULL);
  struct tm tmLocal;
  memset(&tmLocal, 0, sizeof(tmLocal));
  localtime_r(&now, &tmLocal);
  *pTime = {tmLocal.tm_year + 1900, tmLocal.tm_mon + 1, tmLocal.tm_mday,
            tmLocal.tm_hour,        tmLocal.tm_min,     tmLocal.tm_sec};
}

int platSameFile(const char *pszA, const char *pszB) {
  struct stat a, b;
  return stat(pszA, &a) == 0 && stat(pszB, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

int platIsRegularFile(FILE *pFile) {
  struct stat st;
  return fstat(fileno(pFile), &st) == 0 && S_ISREG(st.st_mode);
}

int platIsLink(const char *pszPath) {
  struct stat st;
  return lstat(pszPath, &st) == 0 && S_ISLNK(st.st_mode);
}

int platIsStandardInput(const char *pszPath) {
  struct stat a, b;
  return fstat(STDIN_FILENO, &a) == 0 && stat(pszPath, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// The signals a child must take by default, whatever its parent ignores.
static const int s_anChildSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What a child is started with.
struct ChildStart {
  const char *const *ppszArgv;
  const char *pszDir;
  const char *pszOutput;  // a file to append to, or null
  int fdOutput;           // else a descriptor, or -1 for none
  int fdReport;           // where a failed exec's errno goes
  sigset_t setParent;     // the parent's signal mask
};

// The child until its exec.  On Linux it runs in the parent's memory on a
// stack of its own (the parent waits until the exec): it writes nothing of
// the parent's but errno, which the parent sets again, and calls only
// system calls.  Every signal is blocked from the start, so no handler of
// the parent can run here.
#if defined(__linux__)
__attribute__((no_sanitize_address))
#endif
static int runChild(void *pArg) {
  const ChildStart *pStart = (const ChildStart *)pArg;
#if defined(__linux__)
  // A child does not outlive its parent (a test stopped at its time
  // limit, zvfleet ended from outside): it would hold its ports.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  // The parent's handlers are its own code; and ignored signals survive an
  // exec: a parent started in the background of a script (SIGINT ignored)
  // must still be able to stop its child.
  struct sigaction saDefault;
  memset(&saDefault, 0, sizeof(saDefault));
  saDefault.sa_handler = SIG_DFL;
  sigemptyset(&saDefault.sa_mask);
  for (int nSignal = 1; nSignal < NSIG; nSignal++) {
    struct sigaction saNow;
    if (sigaction(nSignal, NULL, &saNow) == 0 && saNow.sa_handler != SIG_DFL &&
        saNow.sa_handler != SIG_IGN)
      sigaction(nSignal, &saDefault, NULL);
  }
  sigset_t setChild = pStart->setParent;
  for (int nSignal : s_anChildSignals) {
    sigaction(nSignal, &saDefault, NULL);
    sigdelset(&setChild, nSignal);
  }
  sigprocmask(SIG_SETMASK, &setChild, NULL);
  int fdIn = open("/dev/null", O_RDONLY);
  if (fdIn >= 0) dup2(fdIn, 0);
  int bReady = 1;
  if (pStart->pszOutput != NULL) {
    int fd = open(pStart->pszOutput, O_WRONLY | O_CREAT | O_APPEND,
                  S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    bReady = fd >= 0 && dup2(fd, 1) >= 0 && dup2(fd, 2) >= 0;
  } else if (pStart->fdOutput >= 0) {
    bReady = dup2(pStart->fdOutput, 1) >= 0 && dup2(pStart->fdOutput, 2) >= 0;
  }
  if (bReady && (pStart->pszDir == NULL || chdir(pStart->pszDir) == 0))
    execv(pStart->ppszArgv[0], (char *const *)pStart->ppszArgv);
  int nError = errno;
  ssize_t nWritten = write(pStart->fdReport, &nError, sizeof(nError));
  (void)nWritten;  // nothing more to do about it in the child
  _exit(127);
}

// The child's output: the descriptor, or -1 (PLAT_NO_OUTPUT) for none.
int platStartChildTo(const char *const *ppszArgv, const char *pszDir, const char *pszOutput,
                     PlatOutput output, PlatChild *pChild) {
  // The child reports a failed exec through a pipe that the exec closes.
  int afdReport[2];
  if (pipe2(afdReport, O_CLOEXEC) != 0) return 0;
  fflush(stdout);  // the child must not inherit buffered output
  ChildStart start;
  start.ppszArgv = ppszArgv;
  start.pszDir = pszDir;
  start.pszOutput = pszOutput;
  start.fdOutput = output == PLAT_NO_OUTPUT ? -1 : (int)output;
  start.fdReport = afdReport[1];
  sigset_t setAll;
  sigfillset(&setAll);
  pthread_sigmask(SIG_SETMASK, &setAll, &start.setParent);
#if defined(__linux__)
  // Not a copy of the parent (which a large one pays for in every start):
  // the child shares its memory until the exec, on this stack.
  alignas(16) unsigned char abStack[65536];
  pid_t pid = clone(runChild, abStack + sizeof(abStack), CLONE_VM | CLONE_VFORK | SIGCHLD,
                    &start);
#else
  pid_t pid = fork();
  if (pid == 0) runChild(&start);
#endif
  int nForkError = errno;
  pthread_sigmask(SIG_SETMASK, &start.setParent, NULL);
  close(afdReport[1]);
  if (pid < 0) {
    close(afdReport[0]);
    errno = nForkError;
    return 0;
  }
  int nError = 0;
  ssize_t nRead;
  do nRead = read(afdReport[0], &nError, sizeof(nError));
  while (nRead < 0 && errno == EINTR);
  close(afdReport[0]);
  if (nRead > 0) {  // the exec failed: the child has ended already
    while (waitpid(pid, NULL, 0) < 0 && errno == EINTR) {
    }
    errno = nError;
    return 0;
  }
  *pChild = (PlatChild)pid;
  return 1;
}

int platWaitChild(PlatChild child, unsigned long ulMilliseconds,
                  int *pnStatus) {
  unsigned long ulStart = platMilliseconds();
  for (;;) {
    int nRaw;  // set when the child has ended
    pid_t r = waitpid((pid_t)child, &nRaw, WNOHANG);
    if (r == (pid_t)child) {
      *pnStatus = WIFEXITED(nRaw) ? WEXITSTATUS(nRaw) : 128 + WTERMSIG(nRaw);
      return 1;
    }
    if (r < 0 || platMilliseconds() - ulStart >= ulMilliseconds) return 0;
    // No event tells a process's end to a poll() here: look again soon.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void platStopChild(PlatChild child) { kill((pid_t)child, SIGINT); }

int platIsTerminal(void) { return isatty(STDOUT_FILENO) == 1; }
int platMakeDirectory(const char *pszPath) {
  return mkdir(pszPath, S_IRWXU | S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH) == 0 ||
         platIsDirectory(pszPath);
}

int platRemoveDirectory(const char *pszPath) { return rmdir(pszPath) == 0; }

int platReserveFile(const char *pszPath, long lBytes) {
  int fd = open(pszPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return 0;
  // Blocks taken without writing them (the C library writes where the
  // file system cannot).
  int bOk = lBytes <= 0 || posix_fallocate(fd, 0, (off_t)lBytes) == 0;
  if (close(fd) != 0) bOk = 0;
  if (!bOk) unlink(pszPath);
  return bOk;
}

int platAppendToFile(const char *pszPath, const char *pData, int nLength) {
  // O_APPEND: each write lands at the end, whoever else appends.
  int fd = open(pszPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
  if (fd < 0) return 0;
  ssize_t n = nLength > 0 ? write(fd, pData, (size_t)nLength) : 0;
  int bOk = n == (ssize_t)(nLength > 0 ? nLength : 0);
  if (close(fd) != 0) bOk = 0;
  return bOk;
}

int platProgramBeside(const char *pszName, char *pszPath, int nSize) {
  char szSelf[4096];
  ssize_t n = readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
  if (n <= 0) return 0;
  szSelf[n] = '\0';
  char *pSlash = strrchr(szSelf, '/');
  if (pSlash == NULL) return 0;
  pSlash[1] = '\0';
  int nWritten = snprintf(pszPath, (size_t)nSize, "%s%s", szSelf, pszName);
  return nWritten > 0 && nWritten < nSize;
}

// Children watched through pipes, and interruptions (see
// platform_companions.h).

int platStartChildPiped(const char *const *ppszArgv, const char *pszDir,
                        PlatChild *pChild, PlatPipe *pPipe) {
  // Both ends close on exec: the child gets its copy of the write end as
  // its output, and no other child inherits either end.
  int afd[2];
  if (pipe2(afd, O_CLOEXEC) != 0) return 0;
  if (fcntl(afd[0], F_SETFL, fcntl(afd[0], F_GETFL) | O_NONBLOCK) != 0 ||
      !platStartChildTo(ppszArgv, pszDir, NULL, (PlatOutput)afd[1], pChild)) {
    int nSaved = errno;
    close(afd[0]);
    close(afd[1]);
    errno = nSaved;
    return 0;
  }
  close(afd[1]);  // the pipe ends when the child's copy closes
  *pPipe = (PlatPipe)afd[0];
  return 1;
}

int platReadPipe(PlatPipe pipe, char *pBuffer, int nSize) {
  for (;;) {
    ssize_t n = read((int)pipe, pBuffer, (size_t)nSize);
    if (n > 0) return (int)n;
    if (n == 0) return -1;  // every writer is gone
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

void platClosePipe(PlatPipe pipe) { close((int)pipe); }

void platKillChild(PlatChild child) { kill((pid_t)child, SIGKILL); }

static volatile sig_atomic_t s_bInterrupted;

static void noteInterruption(int) { s_bInterrupted = 1; }

int platCatchInterruptions(void) {
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = noteInterruption;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a wait that the signal interrupts returns early, and the
  // caller looks at the note sooner.
  int bOk = 1;
  for (int nSignal : s_anChildSignals)
    if (sigaction(nSignal, &sa, NULL) != 0) bOk = 0;
  return bOk;
}

int platInterrupted(void) { return s_bInterrupted != 0; }

void platInterruptionHandled(void) {}

int platTerminalSize(int *pnColumns, int *pnRows) {
  struct winsize ws;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 ||
      ws.ws_row == 0)
    return 0;
  *pnColumns = ws.ws_col;
  *pnRows = ws.ws_row;
  return 1;
}

// ICMP echo.  An unprivileged ICMP socket (a "ping socket": the system
// sets the request's identifier and hands this socket only the replies to
// it) where the system allows one to this user, else a raw socket (root,
// or CAP_NET_RAW), which sees every ICMP message of the host and keeps
// those of its own identifier.  A ping socket hands over the ICMP message
// alone on Linux, with its IP header elsewhere; both are read.
#define ICMP_ECHO_REPLY_TYPE 0
#define ICMP_ECHO_REQUEST_TYPE 8
#define ICMP_HEADER_SIZE 8
#define ECHO_PAYLOAD_SIZE 24

struct PosixPinger {
  int fd;
  int bRaw;
  uint32_t ulAddr;
  uint16_t usId, usSequence;
  int bReplied;
};

static std::atomic<unsigned> s_nPingers;

// The internet checksum of the bytes (RFC 1071).
static uint16_t icmpChecksum(const uint8_t *pb, int nLength) {
  uint32_t ulSum = 0;
  for (int i = 0; i + 1 < nLength; i += 2) ulSum += (uint32_t)(pb[i] << 8 | pb[i + 1]);
  if (nLength & 1) ulSum += (uint32_t)pb[nLength - 1] << 8;
  while (ulSum >> 16) ulSum = (ulSum & 0xFFFF) + (ulSum >> 16);
  return (uint16_t)~ulSum;
}

PlatPinger platOpenPinger(uint32_t ulAddr) {
  int bRaw = 0;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
  if (fd < 0) {
    bRaw = 1;
    fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
  }
  if (fd < 0) return PLAT_NO_PINGER;
  PosixPinger *p = (PosixPinger *)calloc(1, sizeof(PosixPinger));
  if (p == NULL) {
    close(fd);
    errno = ENOMEM;
    return PLAT_NO_PINGER;
  }
  p->fd = fd;
  p->bRaw = bRaw;
  p->ulAddr = ulAddr;
  p->usId = (uint16_t)((unsigned)getpid() * 31u + ++s_nPingers);
  return (PlatPinger)p;
}

int platSendEcho(PlatPinger pinger) {
  PosixPinger *p = (PosixPinger *)pinger;
  uint8_t abPacket[ICMP_HEADER_SIZE + ECHO_PAYLOAD_SIZE];
  memset(abPacket, 0, sizeof(abPacket));
  memcpy(abPacket + ICMP_HEADER_SIZE, "zvfleet: back online?", 21);
  p->usSequence++;
  abPacket[0] = ICMP_ECHO_REQUEST_TYPE;
  abPacket[4] = (uint8_t)(p->usId >> 8);
  abPacket[5] = (uint8_t)p->usId;
  abPacket[6] = (uint8_t)(p->usSequence >> 8);
  abPacket[7] = (uint8_t)p->usSequence;
  uint16_t usSum = icmpChecksum(abPacket, (int)sizeof(abPacket));
  abPacket[2] = (uint8_t)(usSum >> 8);
  abPacket[3] = (uint8_t)usSum;
  struct sockaddr_in sa = sockaddr_in();
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = p->ulAddr;
  return sendto(p->fd, abPacket, sizeof(abPacket), 0, (struct sockaddr *)&sa, sizeof(sa)) ==
         (ssize_t)sizeof(abPacket);
}

int platEchoReplied(PlatPinger pinger) {
  PosixPinger *p = (PosixPinger *)pinger;
  uint8_t abPacket[1500];
  for (;;) {
    struct sockaddr_in sa;
    socklen_t nSaLen = sizeof(sa);
    memset(&sa, 0, sizeof(sa));
    ssize_t n = recvfrom(p->fd, abPacket, sizeof(abPacket), 0, (struct sockaddr *)&sa, &nSaLen);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;  // nothing more waits (or the socket failed: no reply then)
    int nAt = 0;
    if (n >= 20 && (abPacket[0] >> 4) == 4) nAt = (abPacket[0] & 0x0F) * 4;  // an IP header
    if (n - nAt < ICMP_HEADER_SIZE || sa.sin_addr.s_addr != p->ulAddr) continue;
    const uint8_t *pbIcmp = abPacket + nAt;
    if (pbIcmp[0] != ICMP_ECHO_REPLY_TYPE) continue;
    if (p->bRaw && (uint16_t)(pbIcmp[4] << 8 | pbIcmp[5]) != p->usId) continue;
    p->bReplied = 1;
  }
  return p->bReplied;
}

void platClosePinger(PlatPinger pinger) {
  PosixPinger *p = (PosixPinger *)pinger;
  if (p == NULL) return;
  close(p->fd);
  free(p);
}

unsigned long platProcessId(void) { return (unsigned long)getpid(); }

int platProcessAlive(unsigned long ulId) {
  if (ulId == 0 || ulId > 0x7FFFFFFFul) return 0;
  // Another user's process answers EPERM: it runs all the same.
  int nSaved = errno;
  int bAlive = kill((pid_t)ulId, 0) == 0 || errno == EPERM;
  errno = nSaved;
  return bAlive;
}

int platHostName(char *pszName, int nSize) {
  if (nSize <= 0) return 0;
  char szName[256];
  if (gethostname(szName, sizeof(szName)) != 0) {
    pszName[0] = '\0';
    return 0;
  }
  szName[sizeof(szName) - 1] = '\0';
  snprintf(pszName, (size_t)nSize, "%s", szName);
  return 1;
}

int platRandomBytes(void *pBuffer, int nSize) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  int nDone = 0;
  while (nDone < nSize) {
    ssize_t n = read(fd, (char *)pBuffer + nDone, (size_t)(nSize - nDone));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    nDone += (int)n;
  }
  close(fd);
  return nDone == nSize;
}

int platRemoveFile(const char *pszPath) { return unlink(pszPath) == 0; }

int platTempFolder(char *pszPath, int nSize) {
  const char *pszDir = getenv("TMPDIR");
  if (pszDir == NULL || *pszDir == '\0') pszDir = "/tmp";
  int n = snprintf(pszPath, (size_t)nSize, "%s", pszDir);
  return n > 0 && n < nSize;
}

int platWaitSockets(const PlatSocket *aSockets, int nSockets, unsigned long ulMilliseconds,
                    int *pnReady) {
  static struct pollfd s_aPoll[PLAT_WAIT_SOCKETS];
  static int s_anIndex[PLAT_WAIT_SOCKETS];
  if (nSockets < 0 || nSockets > PLAT_WAIT_SOCKETS) return -1;
  int nPolled = 0;
  for (int i = 0; i < nSockets; i++) {
    if (aSockets[i] == PLAT_NO_SOCKET) continue;
    s_aPoll[nPolled].fd = (int)aSockets[i];
    s_aPoll[nPolled].events = POLLIN;
    s_aPoll[nPolled].revents = 0;
    s_anIndex[nPolled++] = i;
  }
  unsigned long ulStart = platMilliseconds();
  for (;;) {
    unsigned long ulSpent = platMilliseconds() - ulStart;
    int nLeft = ulSpent < ulMilliseconds ? (int)(ulMilliseconds - ulSpent) : 0;
    int r = poll(s_aPoll, (nfds_t)nPolled, nLeft);
    if (r == 0) return 0;
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    int nFound = -1;
    for (int i = 0; i < nPolled; i++)
      if (s_aPoll[i].revents != 0 && (nFound < 0 || (s_anIndex[nFound] < *pnReady && s_anIndex[i] >= *pnReady)))
        nFound = i;
    *pnReady = s_anIndex[nFound];
    return 1;
  }
}
