// SPDX-License-Identifier: Apache-2.0
// The verdict on an Intel HEX file: its lines read and judged one by one
// by the loader's rules, the accepted data stored into the image store,
// and what the loader refuses (with the line), the records by type, the
// segment changes, the checksums and the code extent kept.  It prints
// nothing and reads no setting.  The loader (readHexFile) loads a file
// through it and prints its refusal; zvinspect reads a file through it
// and adds its own findings.  Every record rule stands here once.
#ifndef ZV_HEX_VERDICT_H
#define ZV_HEX_VERDICT_H

#include <stdint.h>
#include <stdio.h>

#define HEX_LINE_SIZE 256  // line buffer, terminator included
#define HEX_MAX_COUNT 32   // the largest byte count accepted
#define HEX_DATA_POS 9     // first data character
#define HEX_TYPE_POS 8     // the record type digit that is read
#define HEX_END_OF_FILE_MARK 0x1A  // Ctrl-Z, which old DOS tools append
// No sound HEX file comes near this size: the image store takes 256 KiB,
// which even records of one byte each spell out in a few MiB.
#define HEX_FILE_LIMIT (16UL * 1024 * 1024)

// The value of a hexadecimal digit (either case), -1 for any other
// character.
int hexDigitValue(char c);

// A HEX file read one line at a time, from an open file in large blocks
// or from bytes in memory.
struct HexLineReader {
  FILE *pFile;              // null: the bytes at pbMemory
  const char *pszPath;
  const uint8_t *pbMemory;
  uint32_t ulMemory;
  int nPos;
  int nFill;
  bool bSkipping;      // the rest of an over-long line is still to pass
  uint32_t ulTotal;    // bytes read so far
  const unsigned char *pbBlock;  // the block: abBlock, or in memory the
                                 // bytes themselves (never copied)
  unsigned char abBlock[16384];
};

enum HexLineResult {
  HEX_LINE_OK,
  HEX_LINE_END,         // no line left
  HEX_LINE_TOO_LONG,    // the line does not fit the line buffer; the next
                        // call reads the line after it
  HEX_LINE_TOO_BIG,     // the file holds more than HEX_FILE_LIMIT bytes
  HEX_LINE_READ_ERROR   // reported with the path
};

void startHexLines(HexLineReader *pReader, FILE *pFile, const char *pszPath);
void startHexLinesInMemory(HexLineReader *pReader, const uint8_t *pb, uint32_t ulSize);

// Reads one line without its line feed into pLine (HEX_LINE_SIZE
// characters, not terminated) and its length into *pnLength.
HexLineResult readHexLine(HexLineReader *pReader, char *pLine, int *pnLength);

// What the loader makes of one line.
enum HexLineKind {
  HEX_BLANK,           // blanks, CR and Ctrl-Z only: skipped
  HEX_NOT_HEX,         // refused: "Input file not Intel Hex format"
  HEX_IGNORED,         // a well-formed record of a type digit other than
                       // 0, 2, 4: skipped
  HEX_DATA,            // type digit 0: bytes to store
  HEX_SEGMENT,         // type digit 2, two bytes: a new segment base
  HEX_LINEAR_ZERO,     // type digit 4, the two bytes 0000: skipped
  HEX_LINEAR_REFUSED   // type digit 4 with another value: refused as
                       // "not Intel Hex format"
};

// The checksum of a record, which the loader does not check: none behind
// the data but blanks (missing), or a field there that is not two
// hexadecimal digits.
enum HexChecksum { HEX_SUM_HOLDS, HEX_SUM_WRONG, HEX_SUM_MISSING, HEX_SUM_NOT_HEX };

struct HexRecord {
  uint32_t ulCount;  // byte count field
  uint32_t ulField;  // address field
  char cType;        // the character at HEX_TYPE_POS
  uint8_t bType;     // both type digits (a record that is not refused)
  uint8_t abData[HEX_MAX_COUNT];  // the ulCount data bytes
  uint32_t ulSegmentBase;  // HEX_SEGMENT: the base it sets
  int bEnd;                // an end-of-file record (type 01)
  int bStartCode;          // the line begins with ':'
  int nChecksum;           // HexChecksum
  uint8_t bStoredSum, bWantedSum;
  const char *pszProblem;  // HEX_NOT_HEX: what is wrong, in a few words
};

// Decodes a line of nLength characters (no line feed) by the loader's
// fixed positions.  Every record, whatever its type, must hold a
// hexadecimal count, address, type and its count of data bytes; behind
// its checksum only the line end, blanks and Ctrl-Z may follow (anything
// else is a record that a lost line end joined to this one).
HexLineKind decodeHexLine(const char *pLine, int nLength, HexRecord *pRecord);

// Where the loader puts a byte of a data record.
enum HexWindow { HEX_WINDOW_CODE, HEX_WINDOW_IDATA, HEX_WINDOW_NONE };
HexWindow hexAddressWindow(uint32_t ulAddress);

// Why the loader refuses a file.
enum HexRefusal {
  HEX_ACCEPTED,
  HEX_REFUSED_FORMAT,     // a line that is no record, or no end record
  HEX_REFUSED_BOUNDS,     // a data byte outside the code and idata windows
  HEX_REFUSED_TOO_LARGE,  // more than HEX_FILE_LIMIT bytes
  HEX_REFUSED_READ        // a read failed (reported by the reader)
};

// Types 00 to 05 and all others, as counted.
#define HEX_TYPE_KINDS 7

struct HexVerdict {
  // The first refusal, where the loader stops.
  int nRefusal;              // HexRefusal
  uint32_t ulRefusedLine;
  uint32_t ulRefusedAddress;  // HEX_REFUSED_BOUNDS
  const char *pszProblem;     // HEX_REFUSED_FORMAT: what is wrong
  // The file so far.
  uint32_t ulLine;            // lines judged
  uint32_t ulBlank;
  uint32_t aulTypeCount[HEX_TYPE_KINDS];
  uint32_t ulDataRecords;     // data records applied
  uint32_t ulSegmentChanges;
  uint32_t ulIgnored;         // well-formed records of other types
  uint32_t ulWrongSums, ulMissingSums;
  uint32_t ulSegmentBase;
  bool bEndSeen;
  uint16_t wIdataCrc;         // after finishHexVerdict
  // The line just judged.
  int nLineResult;            // HexLineResult
  int nKind;                  // HexLineKind (HEX_LINE_OK only)
  const char *pLine;          // its characters (valid until the next line)
  int nLength;
  HexRecord record;
  uint32_t ulAddress;         // HEX_DATA: address field plus segment base
  uint32_t ulStored;          // HEX_DATA: bytes stored from ulAddress
  bool bLineRefused;          // this line stops the loader (first or not)
  bool bStoresNothing;        // a reading again (startHexLookup)
};

// Clears the image store and starts a verdict.
void startHexVerdict(HexVerdict *pVerdict);

// Starts a verdict that leaves the image store and the code extent as
// they are: a file read again, to find the line that set a byte.
void startHexLookup(HexVerdict *pVerdict);

// Reads the next line and judges it: a data record's bytes go into the
// image store up to the first refused address, and the code extent
// (nMinHexAddress, nMaxHexAddress) widens; a refusal is kept if it is
// the first.  Lines after a refusal are judged alike.  Returns false when
// no line is left (or the file is too large or cannot be read).
bool nextHexLine(HexLineReader *pReader, HexVerdict *pVerdict);

// At the end of the lines: a file without an end record is refused on the
// line after its last, and the idata block gets its CRC.
void finishHexVerdict(HexVerdict *pVerdict);

// The loader's message for the verdict's refusal, naming the path (empty
// when none is due).  Returns its length.
int hexRefusalText(const HexVerdict *pVerdict, const char *pszPath, char *pszText, int nSize);

#endif
