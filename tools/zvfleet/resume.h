// SPDX-License-Identifier: Apache-2.0
// Resuming a rollout: --resume REPORT runs, from the same site list, only
// the devices that the JSON report of an earlier run does not show
// updated.  The report records the list's SHA-256 and, per device, the
// SHA-256 of its whole line (address, password, file as written, the
// file's own SHA-256, options) salted with a random salt of the report's
// own, so that the report holds neither the password nor a hash that
// could be tried against guesses without the salt.  A device is carried
// over only when its line stands in the new list exactly as it was
// updated; a report none of whose updated devices stands in the list is
// another site's and is refused.  What the earlier run learnt stays: its
// attempts and time, and a device not confirmed back online stays so
// (and is checked again with --confirm-online).
#ifndef ZV_FLEET_RESUME_H
#define ZV_FLEET_RESUME_H

#include "tools/zvfleet/fleet.h"

// The SHA-256 of the site list and the salted SHA-256 of each device's
// line.  The files' digests and the run's salt must be known.  Returns
// true, or false after a message.
bool digestSiteList(void);

// Reads the report and carries over the devices updated before (bEarlier,
// with their earlier time, attempts, duration and online state).  Returns
// true, or false after a message (nothing has started then).
bool applyResume(const char *pszReport);

#endif
