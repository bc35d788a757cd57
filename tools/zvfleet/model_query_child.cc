// SPDX-License-Identifier: Apache-2.0
// A preflight's child: zvfleet started again with MODEL_QUERY_SWITCH runs
// only the model query of one device, nothing after it.  It reads the
// tool's own command line and loads the file as the tool does, so that the
// query carries the password and asks for the model that an upload of the
// same line would; the exchange and its texts are the tool's (queryModel).
// Its output is read by zvfleet as a tool's: the query's line, the model
// the device named, and a refusal or the end of its wait.
#include "tools/zvfleet/model_query_child.h"

#include <stdio.h>
#include <stdlib.h>

#include "app/command_line.h"
#include "base/console.h"
#include "base/settings.h"
#include "base/tool_texts.h"
#include "net/transfer.h"
#include "net/upload_plan.h"
#include "net/upload_start.h"
#include "platform/platform.h"

// argv: MODEL_QUERY_SWITCH, the bound in seconds, then the tool's options.
int runModelQueryChild(int argc, char **argv) {
  platInitProcess();
  setDefaultSettings();
  if (argc < 3) return 2;
  unsigned long ulBoundMs = strtoul(argv[1], NULL, 10) * 1000UL;
  bool bListenOnly = false;
  // The bound stands where the tool's own name would.
  if (!parseCommandLine(argc - 1, argv + 1, &bListenOnly) || bListenOnly) return 2;
  if (!platSocketStartup()) {
    printError("WSAStartup failed");
    return -1;
  }
  // The tool's own start of an upload, its failures reported as the tool
  // reports them.
  PlatSocket s;
  PlatAddress dest;
  if (startUpload(&s, &dest) != UPLOAD_STARTED) return 1;
  UploadSource source;
  uploadSourceFromStore(&source);
  TransferPlan plan;
  planTransfer(&source, FILE_TYPE_MODEL_QUERY, &plan);
  // An upload of a logo or HTML file asks for no model: another model
  // than its file's would not stop it, so it does not stop a preflight.
  UploadPlan upload;
  planUpload(&source, &upload);
  bool bUploadAsks = upload.nTransfers > 0 && upload.aTransfers[0].bModelQuery;
  ModelAnswer answer;
  int nVerdict = queryModel(s, &dest, &plan, ulBoundMs, &answer);
  platCloseSocket(s);
  if (answer.nModel >= 0) consolePrintf(TEXT_DEVICE_MODEL_START "%d\n", answer.nModel);
  if (nVerdict == MODEL_OTHER && !bUploadAsks) {
    consolePrintf("(its upload asks for no model: the model is not checked against the file)\n");
    return 1;
  }
  switch (nVerdict) {
    case MODEL_FITS:
    case MODEL_UNKNOWN_TO_DEVICE:
      return 1;  // the tool's status of an upload that went on
    case MODEL_NO_ANSWER:
      consolePrintf(TEXT_NO_ANSWER_WITHIN "\n");
      return 0;
    case MODEL_SEND_FAILED:
      return 1;
    default:
      consolePrintf("%s", answer.end.szText);
      return answer.end.nStatus;
  }
}
