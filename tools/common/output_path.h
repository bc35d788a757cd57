// SPDX-License-Identifier: Apache-2.0
// The one rule for every file that a companion writes (reports, pages,
// extractions, copies, logs' folders, the lock), checked before anything
// is written or sent:
//   - a target is never a file that the run reads, nor one that it writes
//     under another name, however named: the same file by identity, through
//     a symbolic link, a hard link, another spelling or standard input;
//   - only a regular file or a missing name is replaced, made whole beside
//     it and then moved over it (image/output_file.h), keeping its owner and
//     mode; a symbolic link is refused, never followed nor replaced, and so
//     is a directory, a device, a FIFO or a socket (/dev/stdout, /dev/null):
//     the output is never written straight into them;
//   - a target whose folder takes no new file (missing, read-only, no
//     permission) is found at the check, by making and removing a new file
//     beside it.
// A program names what it reads (outputRuleReads), then checks each of its
// outputs (outputRuleCheck), and writes each through outputRuleOpen.
#ifndef ZV_COMMON_OUTPUT_PATH_H
#define ZV_COMMON_OUTPUT_PATH_H

#include "image/output_file.h"

// Files of one run noted at most (what it reads and what it writes).
#define OUTPUT_RULE_FILES 1100

// Forgets every file noted (a new run in the same process).
void outputRuleReset(void);

// Notes a file that the run reads, named pszWhat in a refusal ("the site
// list").  "-" is standard input.  Both texts must live while the rule is
// used; beyond OUTPUT_RULE_FILES a file is not noted.
void outputRuleReads(const char *pszPath, const char *pszWhat);

// Checks a target that pszWhat ("--report") writes, and notes it as the
// run's.  Returns null when it may be written, or why not ("it is the site
// list", "it is a symbolic link", ...).
const char *outputRuleCheck(const char *pszPath, const char *pszWhat);

// Opens the target as openOutputFile does, a symbolic link refused as no
// regular file: every writer of a companion opens its files here.
OutputResult outputRuleOpen(OutputFile *pOut, const char *pszPath);

// The whole file from one buffer, through outputRuleOpen.
OutputResult outputRuleSave(const char *pszPath, const void *pData, size_t nSize);

// Whether c separates a path's parts: '/', and '\\' as on Windows.
bool isPathSeparator(char c);

// The length of the path's folder part, its last separator included.
size_t pathFolderLength(const char *pszPath);

#endif
