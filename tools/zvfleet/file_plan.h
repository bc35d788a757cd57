// SPDX-License-Identifier: Apache-2.0
// The page plan of an update: which pages the tool will send for a file,
// from an update file's header and size, or from a plain HEX, logo or HTML
// file as the tool would load it.
#ifndef ZV_FLEET_FILE_PLAN_H
#define ZV_FLEET_FILE_PLAN_H

#include "tools/zvfleet/fleet.h"

// Plans the file at pszPath: an update file, or with bPlain a plain file of
// the type given by its -T letter.  Returns true, or false with the reason
// why the tool would not send it in pszWhy.  A plain HEX file goes through the
// tool's own loader, whose message, when it refuses the file, stands on
// the console before the caller's.
bool planFile(const char *pszPath, bool bPlain, char cTypeLetter,
              FilePlan *pPlan, char *pszWhy, int nWhySize);

// The pages due in all.
int planPages(const FilePlan *pPlan);

// The device of an earlier line than device nDevice that sends the same
// file the same way (its path and plan.cPlainType), so that a site that
// sends one file to every device reads and plans it once; -1 for none.
int earlierSameFile(int nDevice);

#endif
