// SPDX-License-Identifier: Apache-2.0
// The debug port: zvfleet holds it instead of its children (which then
// report that they cannot bind it) and files every datagram, as the tool's
// "Dbg>" line, in the log of the device whose address sent it, or in
// site.log for a sender that is not on the list.
#ifndef ZV_FLEET_DEBUG_PORT_H
#define ZV_FLEET_DEBUG_PORT_H

// Binds the debug port, and notes in the temporary folder that this run
// holds it.  When another live zvfleet holds it (it may be updating these
// very devices) or another program does, returns -1 after a message;
// with --no-debug-port, when another program holds it, says so and goes
// on without.  Returns 0 when not even the wait for
// datagrams can be set up, 1 otherwise.
int openDebugPort(void);

// Lets the debug port go, with the note.
void closeDebugPort(void);

// True when zvfleet holds the debug port.
bool debugPortHeld(void);

// Debug lines filed per sender and second at most; the others are counted
// and the count is noted in the log ("N debug lines not filed").
#define DEBUG_LINES_PER_SECOND 100

// Notes the lines not filed that are not noted yet (at the run's end).
void noteUnfiledDebugLines(void);

// Waits at most ulMilliseconds for datagrams and files those that came:
// the pause of zvfleet's main loop.
void waitDebugPort(unsigned long ulMilliseconds);

#endif
