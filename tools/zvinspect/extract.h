// SPDX-License-Identifier: Apache-2.0
// Extraction: the source of an update file written back out of it, with
// the key: Intel HEX for main firmware (code and idata), the raw file for
// a logo or HTML; zvloader builds the same update file from it again.
#ifndef ZV_INSPECT_EXTRACT_H
#define ZV_INSPECT_EXTRACT_H

#include "tools/zvinspect/options.h"
#include "tools/zvinspect/update_report.h"

// Writes the source to pOpt->pszExtract.  Returns 1, or 0 when the file
// cannot be written (reported).
int extractSource(const InspectOptions *pOpt, const UpdateView *pView);

#endif
