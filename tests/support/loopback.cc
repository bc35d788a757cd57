// SPDX-License-Identifier: Apache-2.0
// Loopback helpers for tests, on the platform layer.
#include "tests/support/loopback.h"

#include <stdlib.h>

#include <random>

// A port from a quiet range above the usual ephemeral ones of Linux and below those of Windows.
// Each process draws its own, so that tests running side by side do not try the same ports in the
// same order.
static uint16_t candidatePort() {
  static std::mt19937 s_random(std::random_device{}() ^ (unsigned)platMilliseconds());
  return (uint16_t)(20000 + s_random() % 12000);
}

LoopbackPeer::LoopbackPeer() {
  platSocketStartup();
  s = platUdpSocket();
  if (s == PLAT_NO_SOCKET) abort();
  // The port that binds is kept: nobody can take it in between.
  for (int i = 0; !platBind(s, LOOPBACK_ADDR, usPort = candidatePort()); i++)
    if (i == 2000) abort();
}

LoopbackPeer::~LoopbackPeer() { platCloseSocket(s); }

void LoopbackPeer::sendTo(uint16_t usTo, const std::vector<uint8_t> &data) const {
  PlatAddress to = {LOOPBACK_ADDR, usTo};
  platSendTo(s, data.data(), (int)data.size(), &to);
}

uint16_t freeUdpPort() {
  platSocketStartup();
  for (int i = 0; i < 2000; i++) {
    uint16_t usPort = candidatePort();
    if (canBind(0, usPort)) return usPort;
  }
  abort();
}

bool canBind(uint32_t ulAddr, uint16_t usPort) {
  platSocketStartup();
  PlatSocket s = platUdpSocket();
  if (s == PLAT_NO_SOCKET) return false;
  bool bOk = platBind(s, ulAddr, usPort) == 1;
  platCloseSocket(s);
  return bOk;
}

bool loopbackDevicesApart() {
  static int s_nApart = -1;  // the answer does not change within a run
  if (s_nApart >= 0) return s_nApart == 1;
  PlatSocket a = platUdpSocket(), b = platUdpSocket();
  PlatEvent hA = platCreateEvent();
  uint16_t usPort = freeUdpPort();
  uint32_t ulA = 0x0B00007Fu, ulB = 0x0C00007Fu;
  PlatAddress to = {ulA, usPort}, from = {0, 0};
  uint8_t bByte = 12;
  // b sends to a's address: a must get it, from b's.  Where the two are one socket underneath, the
  // datagram goes astray or shows another sender; a short wait tells the first.
  bool bApart = platBind(a, ulA, usPort) && platBind(b, ulB, usPort) &&
                platEventSelectRead(a, hA) && platSendTo(b, &bByte, 1, &to) == 1 &&
                platWaitEvent(hA, 2000) == 1 && platRecvFrom(a, &bByte, 1, &from) == 1 &&
                from.ulAddr == ulB;
  platCloseSocket(a);
  platCloseSocket(b);
  s_nApart = bApart;
  return bApart;
}
