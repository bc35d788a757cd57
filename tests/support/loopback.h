// SPDX-License-Identifier: Apache-2.0
// Loopback helpers for tests that use real sockets: free ports, a peer
// that sends and receives datagrams on 127.0.0.1.
#ifndef ZV_LOOPBACK_H
#define ZV_LOOPBACK_H

#include <stdint.h>

#include <vector>

#include "platform/platform.h"

#define LOOPBACK_ADDR 0x0100007Fu  // 127.0.0.1 in network byte order

// A UDP socket bound to 127.0.0.1 on a port the system picks.
struct LoopbackPeer {
  PlatSocket s = PLAT_NO_SOCKET;
  uint16_t usPort = 0;
  LoopbackPeer();
  ~LoopbackPeer();
  void sendTo(uint16_t usPort, const std::vector<uint8_t> &data) const;
};

// A port on 127.0.0.1 that was free a moment ago.
uint16_t freeUdpPort();

// Whether a socket may bind the address and port (false when taken or
// when the user may not use a privileged port).
bool canBind(uint32_t ulAddr, uint16_t usPort);

// Whether sockets bound to 127.0.0.11 and 127.0.0.12 on one port are told
// apart, as receivers and as senders, as simulated devices on 127.0.0.x
// need (Wine binds both to any address and sends from 127.0.0.1).
bool loopbackDevicesApart();

#endif
