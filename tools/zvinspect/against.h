// The comparison of an update file with its source: whether the file holds
// exactly what zvloader builds from the HEX firmware, the logo or the HTML
// file, and where the first difference lies on the device.
#ifndef ZV_INSPECT_AGAINST_H
#define ZV_INSPECT_AGAINST_H

#include "tools/zvinspect/options.h"
#include "tools/zvinspect/update_report.h"

// Reports the comparison with pOpt->pszAgainst.  Returns 1, or 0 when the
// source cannot be read.
int compareWithSource(const InspectOptions *pOpt, const UpdateView *pView);

#endif
