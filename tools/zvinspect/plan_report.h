// SPDX-License-Identifier: Apache-2.0
// The report of an update file's upload: the tool's own upload plan (the
// pages it sends, the requests and the bytes on the wire when no reply is
// lost), and what of a logo or HTML image its fixed page range leaves out.
#ifndef ZV_INSPECT_PLAN_REPORT_H
#define ZV_INSPECT_PLAN_REPORT_H

#include "tools/zvinspect/update_report.h"

void reportUploadPlan(const UpdateView *pView);

#endif
