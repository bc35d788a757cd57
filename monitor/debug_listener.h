// SPDX-License-Identifier: Apache-2.0
// The debug message listener: prints every datagram that reaches the debug
// port, with the day and time of arrival and the sender's address.
#ifndef ZV_DEBUG_LISTENER_H
#define ZV_DEBUG_LISTENER_H

#include <stdint.h>

#include "platform/platform.h"

#define DEBUG_DATAGRAM_SIZE 256

// Forms the "Dbg>" line for a datagram's text (read up to its first zero
// byte) into pszLine; pszSender null when the address has no text form.
// Returns the line's length.

int formatDebugLine(char *pszLine, int nSize, const PlatTime *pTime,
                    const char *pszSender, const char *pszText);

// Prints the line for one receive into pszBuffer (DEBUG_DATAGRAM_SIZE + 1
// bytes): nReceived bytes, or the first DEBUG_DATAGRAM_SIZE bytes of an
// over-long datagram (PLAT_RECV_TRUNCATED); nothing after another failure.
void printDebugDatagram(char *pszBuffer, int nReceived,
                        const PlatAddress *pFrom);

// Opens the debug socket and binds it to the debug port, reporting a
// failure as the listener's own.  Called on the first thread before any
// request goes out, so that the device's first debug lines find the port
// open and the bind report comes before the update's first line.
void openDebugSocket(void);

// Thread routine: receives on the socket that openDebugSocket opened;
// returns (PLAT_THREAD_ENDS_ALONE, the process goes on) only when that
// socket could not be set up or is gone.
int DbgMsgThread(void);

#endif
