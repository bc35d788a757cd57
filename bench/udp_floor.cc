// SPDX-License-Identifier: Apache-2.0
// The floor of an upload's cost: the exchanges of an upload of the largest
// main image (128 KiB, encrypted) as a plain UDP request/reply loop on
// loopback, with the same datagram sizes and the same wait, and nothing
// else to do: a client process that sends them one at a time, with the
// header fields of the real requests, to a server process that answers
// every request, or to the device simulator.
//   udp_floor serve PORT                     (runs until it is stopped)
//   udp_floor client PORT [ROUNDS [ADDRESS]] (prints the best round's time)
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

// One request of the upload: its datagram length and header fields, so
// that the simulator answers it as it answers the tool.
struct Request {
  int nSize;
  unsigned char bCommand, bCount, bFlags;
  int nPage;
};

std::vector<Request> uploadRequests() {
  std::vector<Request> requests = {{23, 7, 0, 0, 0}};   // model query
  for (int p = 1690; p < 1802; p += 4)                  // idata pages
    requests.push_back({1047, 5, 4, 0, p});
  requests.push_back({29, 6, 11, 0, 0});                // its commit
  requests.push_back({1055, 5, 4, 0x81, 0});            // first image packet
  for (int p = 4; p < 512; p += 4) requests.push_back({1047, 5, 4, 0, p});
  requests.push_back({279, 5, 1, 0, 1829});             // old idata clearing
  requests.push_back({29, 6, 9, 1, 0});                 // commit
  return requests;
}

}  // namespace

int main(int argc, char **argv) {
  // udp_floor serve PORT | udp_floor client PORT [ROUNDS]
  if (argc < 3) return 2;
  int bServe = argv[1][0] == 's';
  uint16_t usPort = (uint16_t)atoi(argv[2]);
  int nRounds = argc > 3 ? atoi(argv[3]) : 1;
  if (!platSocketStartup()) return 1;
  if (bServe) {
    s_server = platUdpSocket();
    if (s_server == PLAT_NO_SOCKET || !platBind(s_server, LOOPBACK, usPort)) return 1;
    printf("serving\n");
    fflush(stdout);
    serverThread();
  }
  PlatSocket client = platUdpSocket();
  if (client == PLAT_NO_SOCKET || !platBind(client, 0, 0)) return 1;
  PlatEvent hEvent = platCreateEvent();
  if (!platEventSelectRead(client, hEvent)) return 1;

  std::vector<Request> requests = uploadRequests();
  static unsigned char abRequest[2048], abReply[2048];
  abRequest[21] = 16;  // the constant of every request header
  PlatAddress to = {argc > 4 ? platInetAddr(argv[4]) : LOOPBACK, usPort};
  double dBest = 1e9;
  for (int r = 0; r < nRounds; r++) {
    auto start = std::chrono::steady_clock::now();
    for (const Request &r : requests) {
      abRequest[0] = r.bCommand;
      abRequest[1] = r.bCount;
      abRequest[2] = r.bFlags;
      abRequest[3] = (unsigned char)r.nPage;
      abRequest[4] = (unsigned char)(r.nPage >> 8);
      platSendTo(client, abRequest, r.nSize, &to);
      if (platWaitEvent(hEvent, 3000) != 1) return 1;
      PlatAddress from;
      if (platRecvFrom(client, abReply, sizeof(abReply), &from) != 23) return 1;
    }
    std::chrono::duration<double, std::milli> ms =
        std::chrono::steady_clock::now() - start;
    if (ms.count() < dBest) dBest = ms.count();
  }
  printf("%zu exchanges: %.3f ms in the loop\n", requests.size(), dBest);
  fflush(stdout);
  platExit(0);
}
