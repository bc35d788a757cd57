// Loopback helpers for tests, on the platform layer.
#include "tests/support/loopback.h"

#include <stdlib.h>

LoopbackPeer::LoopbackPeer() {
  platSocketStartup();
  s = platUdpSocket();
  usPort = freeUdpPort();
  if (s == PLAT_NO_SOCKET || !platBind(s, LOOPBACK_ADDR, usPort)) abort();
}

LoopbackPeer::~LoopbackPeer() { platCloseSocket(s); }

void LoopbackPeer::sendTo(uint16_t usTo, const std::vector<uint8_t> &data) const {
  PlatAddress to = {LOOPBACK_ADDR, usTo};
  platSendTo(s, data.data(), (int)data.size(), &to);
}

uint16_t freeUdpPort() {
  platSocketStartup();
  // Ports from a quiet range above the usual ephemeral ones of Linux and
  // below those of Windows, tried until one binds.
  static unsigned s_nNext = 0;
  for (int i = 0; i < 2000; i++) {
    uint16_t usPort = (uint16_t)(20000 + (s_nNext++ * 7919u + (unsigned)rand()) % 12000);
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

bool loopbackSenderKept(unsigned ulLastByte) {
  LoopbackPeer receiver;
  PlatSocket s = platUdpSocket();
  uint32_t ulAddr = 0x7Fu | (ulLastByte << 24);
  PlatAddress to = {LOOPBACK_ADDR, receiver.usPort}, from = {0, 0};
  uint8_t b = 0;
  bool bKept = platBind(s, ulAddr, 0) && platSendTo(s, &b, 1, &to) == 1 &&
               platRecvFrom(receiver.s, &b, 1, &from) == 1 && from.ulAddr == ulAddr;
  platCloseSocket(s);
  return bKept;
}
