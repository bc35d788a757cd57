// SPDX-License-Identifier: Apache-2.0
// One run per site folder at a time, and a folder of its own for each
// run.  The log folder (-o) holds the lock zvfleet.lock while a run goes
// on: the run's process id, workstation, start and site list, one
// "key value" line each.  A run that finds the lock held by a live zvfleet
// refuses to start before anything is sent; a lock left by a process that
// no longer runs (zvfleet killed) is taken over with a note.  Each run
// then writes its file copies and logs into run-N, the first N not taken,
// so that no run changes another's bytes.  A lock of another workstation
// (a shared folder) cannot be judged from here: it is refused too, with
// the way out named.
#ifndef ZV_FLEET_SITE_FOLDER_H
#define ZV_FLEET_SITE_FOLDER_H

#define SITE_LOCK_NAME "zvfleet.lock"

// Makes the log folder, takes its lock and makes the run's folder.
// False after a message (nothing taken then).
bool takeSiteFolder(void);

// The run's own folder (valid once takeSiteFolder succeeded).
const char *runFolder(void);

// A run refused before any device started: the files it made in its
// folder (the site log, the journal) and the folder go (its copies are
// removed by removeCheckedCopies first).
void abandonRunFolder(void);

// Gives the lock back (nothing when it was not taken).
void releaseSiteFolder(void);

// Who holds something, as a lock or a note of zvfleet's says.
struct FleetHolder {
  unsigned long ulPid;
  char szWorkstation[128];
  char szStart[24];
  char szList[512];
  char szRun[512];
};

// Writes the holder's lines for this run into pszText.  Returns their
// length, or 0 when they do not fit.
int holderText(char *pszText, int nSize);

// Reads a lock or note into the holder.  False when the file is missing
// or names no process.
bool readHolder(const char *pszPath, FleetHolder *pHolder);

// True when the holder is another zvfleet that still runs (or one that
// cannot be judged from this workstation).
bool holderLives(const FleetHolder *pHolder);

#endif
