// SPDX-License-Identifier: Apache-2.0
// The files of a run as they were checked: each distinct file of the site
// list is read once, its bytes go into a private copy in the log folder
// (files/N-NAME) with their size and SHA-256 recorded, and every attempt
// has the tool read that copy, so that a file changed or removed during
// the run changes nothing.
#ifndef ZV_FLEET_CHECKED_FILES_H
#define ZV_FLEET_CHECKED_FILES_H

// Makes the copies, plans each copy again (it must plan as the file did)
// and points every device's tool at its copy.  Returns true, or false
// after a message (nothing has started then).
bool copyCheckedFiles(void);

// The size and SHA-256 (hex) of the file at pszPath, as a copy would
// record them, without making one.  Returns true, or false after a message.
bool fileDigest(const char *pszPath, long *plSize, char *pszSha256);

// Removes the copies made and their folder: a run refused before any
// device started leaves nothing behind.
void removeCheckedCopies(void);

#endif
