// SPDX-License-Identifier: Apache-2.0
// zvfleet --summary REPORT...: one results table over the JSON reports of
// several runs (of many sites, say), with the totals of each and of all.
#ifndef ZV_FLEET_SUMMARY_H
#define ZV_FLEET_SUMMARY_H

// Prints the table.  Returns the exit status: 0 when every device of every
// report was updated, 1 otherwise, 2 when a report cannot be read.
int printSummary(int nReports, char **apszReports);

#endif
