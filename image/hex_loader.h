// SPDX-License-Identifier: Apache-2.0
// Intel HEX loader: reads a main-CPU firmware image into the image store,
// code bytes at their device addresses, idata bytes into the idata block.
// Its rules are also open line by line (read a line, decode it, store a
// data record), so that a program that only describes a HEX file reads it
// exactly as the loader does.
#ifndef ZV_HEX_LOADER_H
#define ZV_HEX_LOADER_H

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

// Returns 1 when the whole file was loaded, 0 after a message.
int readHexFile(const char *pszPath);

// The value of a hexadecimal digit (either case), -1 for any other
// character.
int hexDigitValue(char c);

// A HEX file read in large blocks, one line at a time.
struct HexLineReader {
  FILE *pFile;
  const char *pszPath;
  int nPos;
  int nFill;
  int bSkipping;       // the rest of an over-long line is still to pass
  uint32_t ulTotal;    // bytes read so far
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

// Reads one line without its line feed into pLine (HEX_LINE_SIZE
// characters, not terminated) and its length into *pnLength.
HexLineResult readHexLine(HexLineReader *pReader, char *pLine, int *pnLength);

// What the loader makes of one line.
enum HexLineKind {
  HEX_BLANK,           // blanks, CR and Ctrl-Z only: skipped
  HEX_NOT_HEX,         // refused: "Input file not Intel Hex format"
  HEX_IGNORED,         // a type digit other than 0, 2, 4: skipped
  HEX_DATA,            // type digit 0: bytes to store
  HEX_SEGMENT,         // type digit 2: a new segment base
  HEX_LINEAR_ZERO,     // type digit 4 with the value 0: skipped
  HEX_LINEAR_REFUSED   // type digit 4 with another value: refused as
                       // "not Intel Hex format"
};

struct HexRecord {
  uint32_t ulCount;  // byte count field
  uint32_t ulField;  // address field
  char cType;        // the character at HEX_TYPE_POS
  // HEX_DATA, HEX_SEGMENT, HEX_LINEAR_*: the ulCount data bytes.
  uint8_t abData[HEX_MAX_COUNT];
  uint32_t ulSegmentBase;  // HEX_SEGMENT: the base it sets
  int bEnd;                // an end-of-file record (type 01)
  const char *pszProblem;  // HEX_NOT_HEX: what is wrong, in a few words
};

// Decodes a line of nLength characters (no line feed) by the loader's
// fixed positions.  Returns its kind.  Behind a record's checksum only the
// line end, blanks and Ctrl-Z may follow: anything else is a record that a
// lost line end joined to this one, and the line is refused.
HexLineKind decodeHexLine(const char *pLine, int nLength, HexRecord *pRecord);

// Where the loader puts a byte of a data record.
enum HexWindow { HEX_WINDOW_CODE, HEX_WINDOW_IDATA, HEX_WINDOW_NONE };
HexWindow hexAddressWindow(uint32_t ulAddress);

// Stores the bytes of a data record at ulAddress (address field plus
// segment base) into the image store and widens the code extent.  Returns
// 1, or 0 with the address that the loader refuses in *pulRefused (the
// bytes before it are stored).
int storeHexData(uint32_t ulAddress, const uint8_t *pbData, uint32_t ulCount,
                 uint32_t *pulRefused);

// Clears the image store for a load: no code extent yet, zero bytes.
void clearHexStore(void);

#endif
