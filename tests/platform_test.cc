// SPDX-License-Identifier: Apache-2.0
// The platform layer on real loopback sockets and child processes: the bounded wait, datagram
// lengths, the drop of stale datagrams (which must leave the receive event unsignalled), a taken
// port with its error text, threads, addresses, directories, output files, files compared and
// replaced, standard input, child processes, ICMP echo, and what zvfleet's records and lock need.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "base/console.h"
#include "image/output_file.h"
#include "net/receive_channel.h"
#include "tests/support/loopback.h"
#include "tests/support/programs.h"

namespace {

class ReceiveChannel : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, platSocketStartup());
    m_s = platUdpSocket();
    m_usPort = freeUdpPort();
    ASSERT_EQ(1, platBind(m_s, LOOPBACK_ADDR, m_usPort));
    ASSERT_EQ(1, bindReceiveEvent(m_s));
  }
  void TearDown() override { platCloseSocket(m_s); }
  PlatSocket m_s;
  uint16_t m_usPort;
  LoopbackPeer m_peer;
  uint8_t m_ab[2048];
};

TEST_F(ReceiveChannel, WaitsThreeSecondsLeavingTheBuffer) {
  memset(m_ab, 0x5A, sizeof(m_ab));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, receiveCommand(m_s, m_ab, sizeof(m_ab)));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 2900);
  EXPECT_EQ(0x5A, m_ab[7]);
}

TEST_F(ReceiveChannel, DatagramLengths) {
  memset(m_ab, 0x5A, sizeof(m_ab));
  m_peer.sendTo(m_usPort, std::vector<uint8_t>(23, 1));
  m_peer.sendTo(m_usPort, {});
  m_peer.sendTo(m_usPort, std::vector<uint8_t>(2048, 2));
  m_peer.sendTo(m_usPort, std::vector<uint8_t>(2049, 3));
  EXPECT_EQ(23, receiveCommand(m_s, m_ab, sizeof(m_ab)));
  EXPECT_EQ(1, m_ab[22]);
  EXPECT_EQ(0, m_ab[23]);  // zeroed beyond the datagram
  EXPECT_EQ(0, receiveCommand(m_s, m_ab, sizeof(m_ab)));  // empty
  EXPECT_EQ(2048, receiveCommand(m_s, m_ab, sizeof(m_ab)));
  EXPECT_EQ(-1, receiveCommand(m_s, m_ab, sizeof(m_ab)));  // one byte too long
}

// Datagrams that wait are dropped, an over-long one among them, and the event is left unsignalled:
// the next wait is for the next datagram.  They are sent before the event is bound, which then
// reports them at once (wine's events learn of later datagrams only a moment after they came).
TEST(Platform, StaleDatagramsAreDropped) {
  ASSERT_EQ(1, platSocketStartup());
  PlatSocket s = platUdpSocket();
  uint16_t usPort = freeUdpPort();
  ASSERT_EQ(1, platBind(s, LOOPBACK_ADDR, usPort));
  LoopbackPeer peer;
  for (uint8_t b : {4, 5, 6}) peer.sendTo(usPort, std::vector<uint8_t>(b == 5 ? 3000 : 23, b));
  ASSERT_EQ(1, bindReceiveEvent(s));
  uint8_t ab[2048];
  dropStaleReplies(s, ab, sizeof(ab));
  // Nothing is left; Windows may still signal the event once more, with nothing to read, which the
  // receive channel takes as no datagram.
  if (platWaitEvent(g_hRecvEvent, 0) == 1) {
    EXPECT_EQ(PLAT_RECV_NOTHING, platRecvFrom(s, ab, sizeof(ab), nullptr));
  }
  peer.sendTo(usPort, std::vector<uint8_t>(7, 7));
  EXPECT_EQ(7, receiveCommand(s, ab, sizeof(ab)));
  EXPECT_EQ(7, ab[0]);
  platCloseSocket(s);
}

TEST_F(ReceiveChannel, NoListenerIsNoReceiveError) {
  PlatAddress nobody = {LOOPBACK_ADDR, freeUdpPort()};
  ASSERT_EQ(1, platSendTo(m_s, "x", 1, &nobody));
  m_peer.sendTo(m_usPort, {1, 2, 3});
  EXPECT_EQ(3, receiveCommand(m_s, m_ab, sizeof(m_ab)));
}

TEST_F(ReceiveChannel, NoEventIsAFailure) {
  EXPECT_EQ(0, platEventSelectRead(m_s, nullptr));
}

TEST(Platform, TakenPortAndErrorText) {
  platSocketStartup();
  LoopbackPeer peer;
  PlatSocket t = platUdpSocket();
  EXPECT_EQ(0, platBind(t, LOOPBACK_ADDR, peer.usPort));
  int nCode = platPendingError();
  char szText[1000];
  ASSERT_NE(nullptr, getSystemErrorText(szText, sizeof(szText)));
  // "<text> (<code>)", or "Errno = <code>" where the system has no text; never the text's own line
  // end.
  std::string text = szText, code = std::to_string(nCode);
  EXPECT_NE(0, nCode);
  EXPECT_TRUE(text == "Errno = " + code || text.find(" (" + code + ")") == text.size() - code.size() - 3)
      << text;
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
  szText[0] = 'x';  // a buffer of one takes the terminator alone
  platErrorText(nCode, szText, 1);
  EXPECT_EQ('\0', szText[0]);
  platCloseSocket(t);
}

// zvdevsim's one wait over its devices: the first ready socket at or after the index given, around
// the end; a left-out entry is skipped.
TEST(Platform, WaitOverSockets) {
  LoopbackPeer a, b, sender;
  PlatSocket as[3] = {a.s, PLAT_NO_SOCKET, b.s};
  int nReady = 0;
  EXPECT_EQ(0, platWaitSockets(as, 3, 0, &nReady));
  sender.sendTo(a.usPort, {1});
  sender.sendTo(b.usPort, {2});
  for (int nFrom : {1, 0}) {
    nReady = nFrom;
    ASSERT_EQ(1, platWaitSockets(as, 3, 2000, &nReady));
    EXPECT_EQ(nFrom == 1 ? 2 : 0, nReady);
    uint8_t ab[4];
    EXPECT_EQ(1, platRecvFrom(as[nReady], ab, sizeof(ab), nullptr));
  }
  EXPECT_EQ(-1, platWaitSockets(as, PLAT_WAIT_SOCKETS + 1, 0, &nReady));
}

// Each socket its own event in one process, as the tool's upload and its debug listener have them:
// a datagram signals only its socket's event.
TEST(Platform, EventsOfTwoSockets) {
  LoopbackPeer a, b, sender;
  PlatEvent hA = platCreateEvent(), hB = platCreateEvent();
  ASSERT_EQ(1, platEventSelectRead(a.s, hA));
  ASSERT_EQ(1, platEventSelectRead(b.s, hB));
  sender.sendTo(b.usPort, {2});
  EXPECT_EQ(1, platWaitEvent(hB, 2000));
  EXPECT_EQ(0, platWaitEvent(hA, 0));
}

volatile int g_nThreadRan;
int markThread(void) {
  g_nThreadRan = 1;
  return PLAT_THREAD_ENDS_ALONE;
}

TEST(Platform, ThreadsTimeAddressesAndFiles) {
  ASSERT_EQ(1, platStartThread(markThread));
  while (!g_nThreadRan) std::this_thread::yield();
  PlatTime t;
  platLocalTime(&t);
  EXPECT_TRUE(t.nDay >= 1 && t.nDay <= 31 && t.nHour < 24 && t.nMinute < 60 && t.nSecond < 61);
  char sz[32];
  ASSERT_EQ(1, platAddressText(platInetAddr("10.20.30.40"), sz, sizeof(sz)));
  EXPECT_STREQ("10.20.30.40", sz);
  EXPECT_EQ(0x0900007Fu, platInetAddr("127.9"));
  EXPECT_EQ(0xFFFFFFFFu, platInetAddr("192.168.1.300"));
  EXPECT_EQ(0x0100007Fu, platInetAddr("0x7f.0.0.01"));  // hexadecimal and octal parts
  EXPECT_EQ(0, platAddressText(platInetAddr("10.20.30.40"), sz, 11));  // no room for its end
  EXPECT_EQ(1, platIsDirectory(ZV_SOURCE_DIR "/tests"));
  EXPECT_EQ(0, platIsDirectory(ZV_SOURCE_DIR "/README.md"));
  EXPECT_EQ(0, platIsDirectory(ZV_SOURCE_DIR "/no such thing"));
}

// What zvfleet's records name: the date, the process and whether it lives, the workstation, random
// bytes; the temporary folder and removal.
TEST(Platform, ProcessDateAndTemporaryFiles) {
  PlatDateTime now;
  platLocalDateTime(&now);
  EXPECT_TRUE(now.nYear >= 2024 && now.nMonth >= 1 && now.nMonth <= 12 && now.nDay >= 1 &&
              now.nDay <= 31 && now.nHour < 24 && now.nMinute < 60 && now.nSecond < 61);
  EXPECT_EQ(1, platProcessAlive(platProcessId()));
  EXPECT_EQ(0, platProcessAlive(0x7FFFFFF0ul));  // beyond any process id
  char sz[600];
  ASSERT_EQ(1, platHostName(sz, sizeof(sz)));
  EXPECT_NE('\0', sz[0]);
  uint8_t abA[16] = {0}, abB[16] = {0};
  ASSERT_EQ(1, platRandomBytes(abA, sizeof(abA)));
  ASSERT_EQ(1, platRandomBytes(abB, sizeof(abB)));
  EXPECT_NE(0, memcmp(abA, abB, sizeof(abA)));
  ASSERT_EQ(1, platTempFolder(sz, sizeof(sz)));
  EXPECT_EQ(1, platIsDirectory(sz));
  EXPECT_EQ(0, platTempFolder(sz, 1));
  FILE *pFile = platCreateNewFile("removed.tmp");
  ASSERT_NE(nullptr, pFile);
  fclose(pFile);
  EXPECT_EQ(1, platRemoveFile("removed.tmp"));
  EXPECT_EQ(PLAT_PATH_NONE, platPathKind("removed.tmp"));
  EXPECT_EQ(0, platRemoveFile("removed.tmp"));
}

// zvfleet's logs: a child appends to a file while the parent does; every write lands whole at the
// end.
TEST(Platform, LogFolderAndAppends) {
  ASSERT_EQ(1, platMakeDirectory("logs"));
  EXPECT_EQ(1, platMakeDirectory("logs"));  // already there
  EXPECT_EQ(0, platMakeDirectory("no/such/parent/logs"));
  PlatChild child;
  ASSERT_TRUE(startProgram({"zvdevsim", "-x"}, "logs/a.log", &child));
  EXPECT_EQ(1, platAppendToFile("logs/a.log", "two\n", 4));
  EXPECT_EQ(2, finishProgram(child));
  EXPECT_EQ(1, platAppendToFile("logs/a.log", "three", 5));
  EXPECT_EQ(1, platAppendToFile("logs/a.log", "\n", 1));
  std::string text = readOutput("logs/a.log");
  std::string tool = "zvdevsim: unknown option: -x (zvdevsim -h lists the options)\n";
  EXPECT_TRUE(text == "two\n" + tool + "three\n" || text == tool + "two\nthree\n") << text;
  EXPECT_EQ(0, platAppendToFile("no/such/parent/b.log", "x", 1));
  EXPECT_EQ(1, platAppendToFile("logs/a.log", "", 0));
  char szPath[600];
  ASSERT_EQ(1, platProgramBeside("zvloader", szPath, sizeof(szPath)));
  EXPECT_NE(std::string::npos, std::string(szPath).find("zvloader"));
  EXPECT_EQ(0, platProgramBeside("zvloader", szPath, 4));
  // Room held without writing it; a folder goes only once empty.
  EXPECT_EQ(1, platReserveFile("logs/a.log", 5000));
  EXPECT_EQ(5000u, std::filesystem::file_size("logs/a.log"));
  EXPECT_EQ(0, platReserveFile("no/such/parent/b.log", 1));
  EXPECT_EQ(0, platRemoveDirectory("logs"));
  remove("logs/a.log");
  EXPECT_EQ(1, platRemoveDirectory("logs"));
}

// An output file replaces a file of its name, and only a file: a folder or a device is refused
// untouched, and no new file is left beside them. A folder of its own, the current one while the
// object lives, so that what an earlier run left behind cannot meet a test of what a run leaves.
class FreshFolder {
 public:
  FreshFolder() : m_previous(std::filesystem::current_path()) {
    std::filesystem::path base = std::filesystem::temp_directory_path();
    std::error_code error;
    for (unsigned n = platMilliseconds(), i = 0; i < 1000; n++, i++) {
      m_path = base / ("zvplatform-" + std::to_string(n));
      if (std::filesystem::create_directory(m_path, error)) break;
    }
    std::filesystem::current_path(m_path, error);
    EXPECT_FALSE(error) << m_path;
  }
  ~FreshFolder() {
    std::filesystem::current_path(m_previous);
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }

 private:
  std::filesystem::path m_previous, m_path;
};

TEST(Platform, OutputFilesReplaceOnlyFiles) {
  FreshFolder folder;
  EXPECT_EQ(PLAT_PATH_OTHER, platPathKind(ZV_SOURCE_DIR "/tests"));
  EXPECT_EQ(PLAT_PATH_FILE, platPathKind(ZV_SOURCE_DIR "/README.md"));
  EXPECT_EQ(PLAT_PATH_NONE, platPathKind("no such thing"));
  const char *pszDevice = std::filesystem::exists("/dev/null") ? "/dev/null" : "NUL";
  EXPECT_EQ(PLAT_PATH_OTHER, platPathKind(pszDevice));
  EXPECT_EQ(OUTPUT_NOT_REGULAR, saveOutputFile(pszDevice, "x", 1));
  FILE *pFile = platCreateNewFile("out.bin");
  ASSERT_NE(nullptr, pFile);
  fputs("old", pFile);
  fclose(pFile);
  EXPECT_EQ(nullptr, platCreateNewFile("out.bin"));
  // A file kept private (0600) stays private when it is replaced.
  namespace fs = std::filesystem;
  fs::permissions("out.bin", fs::perms::owner_read | fs::perms::owner_write);
  fs::perms before = fs::status("out.bin").permissions();
  EXPECT_EQ(OUTPUT_OK, saveOutputFile("out.bin", "new", 3));
  EXPECT_EQ("new", readOutput("out.bin"));
  EXPECT_EQ(before, fs::status("out.bin").permissions());
  EXPECT_FALSE(platIsStandardInput("out.bin"));
  ASSERT_EQ(1, platMakeDirectory("out.dir"));
  EXPECT_EQ(OUTPUT_NOT_REGULAR, saveOutputFile("out.dir", "x", 1));
  EXPECT_EQ(PLAT_PATH_OTHER, platPathKind("out.dir"));
  EXPECT_EQ(OUTPUT_CANNOT_OPEN, saveOutputFile("no/such/parent/out.bin", "x", 1));
  OutputFile out;
  ASSERT_EQ(OUTPUT_OK, openOutputFile(&out, "out.bin"));
  writeOutputFile(&out, "half", 4);
  abandonOutputFile(&out);
  EXPECT_EQ("new", readOutput("out.bin"));
  for (const auto &entry : std::filesystem::directory_iterator("."))
    EXPECT_NE(".new", entry.path().extension().string()) << entry.path();
  remove("out.bin");
  std::filesystem::remove("out.dir");
}

// What zvfleet and zvinspect compare and replace: one file under two spellings or a second link is
// the same, two files of equal bytes are not, nor is a missing one; a replace with nothing to move
// changes nothing; a file this process cannot write is told apart.
TEST(Platform, FilesComparedAndReplaced) {
  FreshFolder folder;
  namespace fs = std::filesystem;
  for (const char *psz : {"a.txt", "b.txt", "in.txt"}) fclose(platCreateNewFile(psz));
  fs::create_hard_link("a.txt", "a-link.txt");
  EXPECT_EQ(1, platSameFile("a.txt", "./a.txt"));
  EXPECT_EQ(1, platSameFile("a-link.txt", "a.txt"));
  EXPECT_EQ(0, platSameFile("a.txt", "b.txt"));
  EXPECT_EQ(0, platSameFile("a.txt", "missing.txt"));
  EXPECT_EQ(0, platSameFile("missing.txt", "a.txt"));
  EXPECT_EQ(0, platReplaceFile("missing.txt", "b.txt"));
  EXPECT_EQ(PLAT_PATH_FILE, platPathKind("b.txt"));
  ASSERT_EQ(1, platReplaceFile("a.txt", "b.txt"));
  EXPECT_EQ(1, platSameFile("a-link.txt", "b.txt"));
  fs::permissions("b.txt", fs::perms::owner_read);
  // Root writes it all the same (and so does wine's root despite the read-only attribute that
  // Windows reports).
  FILE *pWrite = fopen("b.txt", "r+");
  PlatPathKind kind = platPathKind("b.txt");
  EXPECT_TRUE(kind == PLAT_PATH_READONLY || (pWrite != nullptr && kind == PLAT_PATH_FILE)) << kind;
  if (pWrite != nullptr) fclose(pWrite);
  fs::permissions("b.txt", fs::perms::owner_all);
  // A file can be read again from where a reading began; a device cannot.
  FILE *pRegular = fopen("b.txt", "rb");
  ASSERT_NE(nullptr, pRegular);
  EXPECT_EQ(1, platIsRegularFile(pRegular));
  fclose(pRegular);
  FILE *pDevice = fopen(fs::exists("/dev/null") ? "/dev/null" : "NUL", "rb");
  ASSERT_NE(nullptr, pDevice);
  EXPECT_EQ(0, platIsRegularFile(pDevice));
  fclose(pDevice);
  ASSERT_NE(nullptr, freopen("in.txt", "rb", stdin));
  EXPECT_EQ(1, platIsStandardInput("./in.txt"));
  EXPECT_EQ(0, platIsStandardInput("b.txt"));
  EXPECT_EQ(stdin, platStandardInput());
}

TEST(Platform, ChildProcesses) {
  PlatChild child;
  // An argument with blanks, quotes and backslashes arrives whole.
  std::string value = "a \"b\" c\\\\" + std::string(200, 'x');  // longer than -dump takes
  ASSERT_TRUE(startProgram({"zvdevsim", "-dump", value}, "child.out", &child));
  EXPECT_EQ(2, finishProgram(child));
  EXPECT_EQ("zvdevsim: -dump takes up to 200 characters, not " + value + " (zvdevsim -h lists the options)\n",
            readOutput("child.out"));
  // Devices that run past the last address are refused; one whose address cannot be bound is named
  // (wine binds the first of these addresses, and not the next).
  for (const char *pszCount : {"6", "5"}) {
    ASSERT_TRUE(startProgram({"zvdevsim", "-a", "255.255.255.250", "-n", pszCount}, "child.out", &child));
    EXPECT_EQ(*pszCount == '6' ? 2 : 1, finishProgram(child));
    EXPECT_EQ(0u, readOutput("child.out").find(*pszCount == '6' ? "zvdevsim: -n 6 from 255.255.255.250 runs past 255.255.255.254\n"
                                                                : "zvdevsim: cannot listen on 255.255.255.25"))
        << readOutput("child.out");
  }
  // A child that would run for a long time is stopped.
  ASSERT_TRUE(startProgram({"zvdevsim", "-a", "127.0.0.1", "-p", std::to_string(freeUdpPort()),
                            "-t", "0"},
                           "child.out", &child));
  ASSERT_TRUE(waitForOutput("child.out", "listening"));
  int nStatus = 0;
  EXPECT_EQ(0, platWaitChild(child, 0, &nStatus));
  platStopChild(child);
  EXPECT_EQ(1, platWaitChild(child, CHILD_TIME_LIMIT_MS, &nStatus));
  // A program that cannot be started, or whose output file cannot be made, is refused.
  EXPECT_FALSE(startProgram({"no such program"}, "child.out", &child));
  EXPECT_FALSE(startProgram({"zvdevsim", "-h"}, "no/such/dir/child.out", &child));
  remove("child.out");
}

// What a piped child wrote, read until its pipe ends (bounded).
std::string readPipeToEnd(PlatPipe pipe) {
  std::string text;
  char ab[64];  // small: a long output comes in several reads
  unsigned long ulStart = platMilliseconds();
  for (;;) {
    int n = platReadPipe(pipe, ab, sizeof(ab));
    if (n < 0 || platMilliseconds() - ulStart > CHILD_TIME_LIMIT_MS) break;
    if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    text.append(ab, (size_t)(n > 0 ? n : 0));
  }
  platClosePipe(pipe);
  return text;
}

// zvfleet's children: both output streams through one pipe, read without waiting; a child stops
// when asked even though its parent ignores SIGINT (a script's background job), and one that runs
// on is ended by force.
TEST(Platform, PipedChildren) {
  PlatChild child;
  PlatPipe pipe;
  ASSERT_EQ(1, platStartChildPiped(std::vector<const char *>{ZV_DEVSIM, "-x", nullptr}.data(),
                                   nullptr, &child, &pipe));
  int nStatus = 0;
  std::string text = readPipeToEnd(pipe);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // Windows line ends
  EXPECT_EQ(1, platWaitChild(child, CHILD_TIME_LIMIT_MS, &nStatus));
  EXPECT_EQ(2, nStatus);
  EXPECT_EQ("zvdevsim: unknown option: -x (zvdevsim -h lists the options)\n", text);

  void (*pfnSaved)(int) = signal(SIGINT, SIG_IGN);
  std::string port = std::to_string(freeUdpPort());
  std::vector<const char *> argv = {ZV_DEVSIM, "-a", "127.0.0.1", "-p", port.c_str(), "-t", "0", nullptr};
  for (int bForce = 0; bForce <= 1; bForce++) {
    ASSERT_EQ(1, platStartChildPiped(argv.data(), nullptr, &child, &pipe));
    char ab[256];
    int n = 0;
    for (unsigned long ulStart = platMilliseconds();
         n == 0 && platMilliseconds() - ulStart < CHILD_TIME_LIMIT_MS;)
      n = platReadPipe(pipe, ab, sizeof(ab));
    EXPECT_EQ(0, std::string(ab, (size_t)(n > 0 ? n : 0)).find("listening")) << n;
    EXPECT_EQ(0, platWaitChild(child, 0, &nStatus));
    if (bForce)
      platKillChild(child);
    else
      platStopChild(child);
    EXPECT_EQ(1, platWaitChild(child, CHILD_TIME_LIMIT_MS, &nStatus));
    EXPECT_EQ(-1, platReadPipe(pipe, ab, sizeof(ab)));  // nothing more can come
    platClosePipe(pipe);
  }
  signal(SIGINT, pfnSaved);
  EXPECT_EQ(0, platStartChildPiped(std::vector<const char *>{"no such program", nullptr}.data(),
                                   nullptr, &child, &pipe));
}

// ICMP echo to loopback, which answers: a reply comes to one of the requests and stays said.
TEST(Platform, EchoOfLoopback) {
  ASSERT_EQ(1, platSocketStartup());
  PlatPinger pinger = platOpenPinger(LOOPBACK_ADDR);
  if (pinger == PLAT_NO_PINGER) {
    GTEST_SKIP() << "no ICMP echo for this user here";
  }
  EXPECT_EQ(0, platEchoReplied(pinger));
  bool bReplied = false;
  for (int i = 0; i < 100 && !bReplied; i++) {  // 10 s, far beyond a loopback reply
    if (i % 10 == 0) {
      EXPECT_EQ(1, platSendEcho(pinger));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    bReplied = platEchoReplied(pinger) == 1;
  }
  EXPECT_TRUE(bReplied);
  EXPECT_EQ(1, platEchoReplied(pinger));  // it stays said
  platClosePinger(pinger);
}

}  // namespace
