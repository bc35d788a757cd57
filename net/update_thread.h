// SPDX-License-Identifier: Apache-2.0
// The update thread: opens the socket towards the device and loads the
// update file (net/upload_start.h), runs the transfers of the upload plan and ends the process when the
// update is over.
#ifndef ZV_UPDATE_THREAD_H
#define ZV_UPDATE_THREAD_H

// Thread routine.  Returns PLAT_THREAD_ENDS_ALONE when its socket cannot be
// created or bound; otherwise the exit status that ends the process.
int UpdateThread(void);

#endif
