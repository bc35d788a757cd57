// The floor of an upload's cost: the exchanges of an upload of the largest
// main image (128 KiB, encrypted) as a plain UDP request/reply loop on
// loopback, with the same datagram sizes and the same wait, and nothing
// else to do on either side: a server process that answers every request,
// and a client process that sends them one at a time.
//   udp_floor serve PORT              (runs until it is stopped)
//   udp_floor client PORT [ROUNDS]    (prints the best round's time)
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <vector>

#include "platform/platform.h"

namespace {

const uint32_t LOOPBACK = 0x0100007Fu;
PlatSocket s_server = PLAT_NO_SOCKET;

// Answers every request with a 23-byte reply.
[[noreturn]] void serverThread(void) {
  static unsigned char abBuffer[2048];
  unsigned char abReply[23] = {1};
  for (;;) {
    PlatAddress from;
    if (platRecvFrom(s_server, abBuffer, sizeof(abBuffer), &from) >= 0)
      platSendTo(s_server, abReply, sizeof(abReply), &from);
  }
}

std::vector<int> uploadSizes() {
  std::vector<int> sizes = {23};               // model query
  sizes.insert(sizes.end(), 28, 1047);         // idata pages 1690..1801
  sizes.push_back(29);                         // its commit
  sizes.push_back(1055);                       // first image packet
  sizes.insert(sizes.end(), 127, 1047);        // the other 508 pages
  sizes.push_back(279);                        // old idata clearing
  sizes.push_back(29);                         // commit
  return sizes;
}

}  // namespace

int main(int argc, char **argv) {
  // udp_floor serve PORT | udp_floor client PORT [ROUNDS]
  if (argc < 3) return 2;
  int bServe = argv[1][0] == 's';
  uint16_t usPort = (uint16_t)atoi(argv[2]);
  int nRounds = argc > 3 ? atoi(argv[3]) : 1;
  if (platSocketStartup() != 0) return 1;
  if (bServe) {
    s_server = platUdpSocket();
    if (s_server == PLAT_NO_SOCKET || platBind(s_server, LOOPBACK, usPort) != 0) return 1;
    printf("serving\n");
    fflush(stdout);
    serverThread();
  }
  PlatSocket client = platUdpSocket();
  if (client == PLAT_NO_SOCKET || platBind(client, 0, 0) != 0) return 1;
  PlatEvent hEvent = platCreateEvent();
  if (platEventSelectRead(client, hEvent) != 0) return 1;

  std::vector<int> sizes = uploadSizes();
  static unsigned char abRequest[2048], abReply[2048];
  PlatAddress to = {LOOPBACK, usPort};
  double dBest = 1e9;
  for (int r = 0; r < nRounds; r++) {
    auto start = std::chrono::steady_clock::now();
    for (int nSize : sizes) {
      platSendTo(client, abRequest, nSize, &to);
      if (platWaitEvent(hEvent, 3000) != 1) return 1;
      PlatAddress from;
      if (platRecvFrom(client, abReply, sizeof(abReply), &from) != 23) return 1;
    }
    std::chrono::duration<double, std::milli> ms =
        std::chrono::steady_clock::now() - start;
    if (ms.count() < dBest) dBest = ms.count();
  }
  printf("%zu exchanges: %.3f ms in the loop\n", sizes.size(), dBest);
  fflush(stdout);
  platExit(0);
}
