// SPDX-License-Identifier: Apache-2.0
// Storage of zvfleet's shared state (see fleet.h), all of it on zvfleet's
// one thread.  Who writes what:
// - g_fleet: the command line (options.cc) before anything runs, the
//   run's start (run.cc clears it first); then the record (record.cc: the
//   run's id, salt, start, workstation and marks) and --resume (resume.cc:
//   the list's hash and the run resumed).
// - g_nDevices and each device's list fields: the site list's reader
//   (site_list.cc), the checked copies (checked_files.cc: path, size,
//   hash) and the file plan; --resume adds the line hashes and what an
//   earlier run did.
// - each device's attempt, outcome and check: the run's loop through
//   children.cc, tool_output.cc, progress.cc, rollout.cc, results.cc,
//   record.cc, report_format.cc and online_check.cc.
#include "tools/zvfleet/fleet.h"

FleetSettings g_fleet;
FleetRun g_run;
FleetDevice g_aDevices[FLEET_MAX_DEVICES];
int g_nDevices;
