// SPDX-License-Identifier: Apache-2.0
// What an upload puts where: the pages of the device's memory that each
// kind of update fills, and the sizes of the datagrams that carry it.
// Facts shared by the transfer, which sends them, and by the programs that
// only describe an upload (zvinspect, zvfleet); no code.
#ifndef ZV_UPLOAD_LAYOUT_H
#define ZV_UPLOAD_LAYOUT_H

// Fixed page ranges (first page, end page = one past the last); a main
// image fills pages from 0 on.
#define LOGO_FIRST_PAGE 1385
#define LOGO_END_PAGE 1401
#define HTML_FIRST_PAGE 0
#define HTML_END_PAGE 845
#define IDATA_FIRST_PAGE 1690
#define IDATA_END_PAGE 1802
#define IDATA_CLEAR_PAGE 1829  // one page of old idata, cleared before a main commit

// Datagrams: every request starts with a 23-byte header; a data request
// carries four page slots (1024 bytes) whatever its page count, the first
// one of an enciphered file the 8-byte image header before them.
#define PACKET_HEADER_SIZE 23
#define PAGES_PER_PACKET 4
#define PACKET_PAGE_BYTES 1024
#define IDATA_CLEAR_SIZE (PACKET_HEADER_SIZE + 256)
#define COMMIT_SIZE (PACKET_HEADER_SIZE + 6)
#define REPLY_SIZE 23

#endif
