// SPDX-License-Identifier: Apache-2.0
// Resuming a rollout: --resume REPORT runs, from the same site list, only
// the devices that the JSON report of an earlier run does not show
// updated.  The report records the list's SHA-256 and, per device, the
// SHA-256 of its line without the password (address, file as written,
// the file's own SHA-256, options): a list that changed since is taken
// only when the lines of the devices updated before are unchanged.
#ifndef ZV_FLEET_RESUME_H
#define ZV_FLEET_RESUME_H

#include "tools/zvfleet/fleet.h"

// The SHA-256 of the site list and of each device's line.  The files'
// digests must be known.  Returns 1, or 0 after a message.
int digestSiteList(void);

// Reads the report and marks the devices updated before (bEarlier, with
// their earlier time, attempts and duration).  Returns 1, or 0 after a
// message (nothing has started then).
int applyResume(const char *pszReport);

// The value of "KEY": in a device's line of a JSON report of zvfleet's:
// a string (its escapes kept as written with bEscapes, else refused) or a
// bare value.  Returns 1 with it in pszValue.
int reportField(const char *pszLine, const char *pszKey, int bEscapes, char *pszValue, int nSize);

// Notes the time of a device's update, now.
void stampUpdate(FleetDevice *pDev);

#endif
