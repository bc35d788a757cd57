// SPDX-License-Identifier: Apache-2.0
// The site list: a CSV file, one device a line,
//   address,password,file[,extra zvloader options]
// with an optional header line (its first field "address") and # comments.
// Unquoted fields are trimmed of blanks; a quoted field ("a,b", "" for a
// quote) is taken exactly.  File paths are taken from the list's folder.
#ifndef ZV_FLEET_SITE_LIST_H
#define ZV_FLEET_SITE_LIST_H

// Reads the list into g_aDevices and checks every line: address, password
// length, options, and the file with its page plan.  Returns the number of
// devices, or -1 after reporting every bad line with its number.
int readSiteList(const char *pszPath);

#endif
