// SPDX-License-Identifier: Apache-2.0
// The upload plan of an update file: the pages that zvloader sends, the
// requests and the bytes on the wire that the upload takes when no reply
// is lost, and what of a logo or HTML image its fixed page range leaves
// out.
#ifndef ZV_INSPECT_UPLOAD_PLAN_H
#define ZV_INSPECT_UPLOAD_PLAN_H

#include "tools/zvinspect/update_report.h"

void reportUploadPlan(const UpdateView *pView);

#endif
