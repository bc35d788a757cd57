// SPDX-License-Identifier: Apache-2.0
// The receive channel: the update socket's receive event and the bounded
// wait for one reply datagram.
#ifndef ZV_RECEIVE_CHANNEL_H
#define ZV_RECEIVE_CHANNEL_H

#include <stdint.h>

#include "platform/platform.h"

#define RECV_TIMEOUT_MS 3000

// Written once by the update thread (bindReceiveEvent); read by
// receiveCommand on the same thread.
extern PlatEvent g_hRecvEvent;

// Creates the receive event and binds it to the socket for readability.
// Returns 1, or 0 on failure.
int bindReceiveEvent(PlatSocket s);

// No receive event, as a fresh process starts.
void resetReceiveChannel(void);

// Waits at most 3000 ms for a datagram on the socket.  Returns -1 when the
// wait or the receive failed (a datagram longer than nSize included), 0
// on time-out or for an empty datagram, else the datagram's length; the
// buffer is zeroed before a receive.  A wake with nothing to read is no
// failure: the wait goes on for the rest of the 3000 ms.
int receiveCommand(PlatSocket s, uint8_t *pbBuffer, int nSize);

// The same wait, for at most ulTimeoutMs.
int receiveWithin(PlatSocket s, uint8_t *pbBuffer, int nSize, unsigned long ulTimeoutMs);

// Reads and drops the datagrams already waiting on the socket, using
// pbBuffer; called before a new request goes out, since none of them can
// answer it.
void dropStaleReplies(PlatSocket s, uint8_t *pbBuffer, int nSize);

#endif
