// SPDX-License-Identifier: Apache-2.0
// The update thread: opens the socket towards the device, loads the update
// file, runs the transfers and ends the process when the update is over.
#ifndef ZV_UPDATE_THREAD_H
#define ZV_UPDATE_THREAD_H

// Thread routine; returns (ending only the thread) when its socket cannot
// be created or bound, otherwise ends the process.
void UpdateThread(void);

#endif
