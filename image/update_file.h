// SPDX-License-Identifier: Apache-2.0
// The update file format (main.enc, logo.enc, html.enc) and its reader.
//
// A file is a 12-byte header, the payload, and in a main file the 0x7000-
// byte idata block.  Header, little-endian: magic 0x41; type byte (file
// type in bits 0-3, model in bits 4-7); nMinHexAddress (4); nMaxHexAddress
// (4); wCrc (2), the CRC-16 of the payload as stored.  The payload starts
// with the 8-byte image header (wLength, wImageCrc, 4 reserved bytes),
// followed by the image padded to whole pages.
#ifndef ZV_UPDATE_FILE_H
#define ZV_UPDATE_FILE_H

#include "image/file_type.h"

#include <stdint.h>

#include "image/image_store.h"

#define UPDATE_FILE_MAGIC 0x41
#define UPDATE_FILE_HEADER_SIZE 12

// Where the fields stand in the file header (beside those of a packet
// header in net/packet.h) ...
#define UPDATE_FILE_MAGIC_AT 0
#define UPDATE_FILE_TYPE_MODEL_AT 1
#define UPDATE_FILE_MIN_ADDRESS_AT 2
#define UPDATE_FILE_MAX_ADDRESS_AT 6
#define UPDATE_FILE_CRC_AT 10
// ... and in the image header at the start of the payload.
#define IMAGE_HEADER_LENGTH_AT 0
#define IMAGE_HEADER_CRC_AT 2
#define IMAGE_HEADER_RESERVED_AT 4

// The file header as its fields.
struct UpdateFileHeader {
  uint8_t bMagic;
  uint8_t bTypeModel;  // file type in bits 0-3, model in bits 4-7
  uint32_t nMinHexAddress;
  uint32_t nMaxHexAddress;
  uint16_t wCrc;
};

// The UPDATE_FILE_HEADER_SIZE bytes at pb as fields, and back.
void decodeUpdateFileHeader(const uint8_t *pb, UpdateFileHeader *pHeader);
void encodeUpdateFileHeader(const UpdateFileHeader *pHeader, uint8_t *pb);

// Payload length for an image of ulLength bytes: the image header and the
// image padded to whole pages, at least one.
uint32_t payloadLength(uint32_t ulLength);

// The image length that the image header at the payload's start keeps:
// its low 16 bits.
uint16_t imageHeaderLength(const uint8_t *pbPayload);

// Writes the image header at pbPayload for the image of ulLength bytes
// that stands behind it, padded with zeros to whole pages: the length's
// low 16 bits and the CRC of those pages.  Returns the payload length.
uint32_t putImageHeader(uint8_t *pbPayload, uint32_t ulLength);

// What the image header at the start of a deciphered payload tells.
struct ImageHeaderReading {
  uint16_t wLength;    // the image length's low 16 bits
  uint16_t wImageCrc;  // the CRC of the pages behind the header
  uint32_t ulLength;   // the image length (at least 1), 0 when none fits
  uint32_t ulPayload;  // the payload that the header describes
  bool bCrcHolds;      // the image CRC holds over that payload's pages
};

// Reads the image header of the deciphered bytes at pbPlain (ulBytes of
// them, at least the header) and tells which payload they hold.  bWhole:
// the ulBytes are the payload (as in a file), and the image length is the
// one whose low 16 bits the header holds and whose payload that is.
// Otherwise the payload ends somewhere within them (as in a run of
// received pages): of the lengths whose low 16 bits the header holds, the
// shortest whose payload fits and over whose pages the image CRC holds.
// Returns bCrcHolds.
int readImageHeader(const uint8_t *pbPlain, uint32_t ulBytes, int bWhole,
                    ImageHeaderReading *pReading);

// 1 when a deciphered payload of ulPayload bytes holds a logo image as the
// builder lays one out: the image begins with its own length, 2 less than
// the image header's.  An HTML image does not.  No CRC covers the type
// byte of a file, so this is how a flipped type bit can be told.
int payloadLooksLikeLogo(const uint8_t *pbPlain, uint32_t ulPayload);

// What the tool's reader makes of a file's bytes, in the order it checks
// them; each refusal has its own message (updateFileRefusalText).
enum UpdateFileRefusal {
  UPDATE_FILE_ACCEPTED,
  UPDATE_FILE_NO_MAGIC,      // empty file
  UPDATE_FILE_WRONG_MAGIC,
  UPDATE_FILE_NO_TYPE,       // nothing after the magic
  UPDATE_FILE_BAD_TYPE,      // a type code the reader does not take
  UPDATE_FILE_WRONG_MODEL,   // main firmware for no main-CPU model
  UPDATE_FILE_NO_MIN,        // the file ends before nMinHexAddress
  UPDATE_FILE_NO_MAX,        // ... before nMaxHexAddress
  UPDATE_FILE_NO_CRC,        // ... before wCrc
  UPDATE_FILE_TOO_LARGE,     // more data than the image store holds
  UPDATE_FILE_NO_IDATA,      // a main file too short for its idata block
  UPDATE_FILE_BAD_CRC,       // wCrc is not the payload's CRC
  UPDATE_FILE_NOT_AT_ZERO,   // nMinHexAddress is not 0
  UPDATE_FILE_EMPTY          // nothing to load: refused without a message
};

// The reader looks at no more of a file than this: the header, the
// store's size, and one byte to tell that there is more.
#define UPDATE_FILE_READ_LIMIT (UPDATE_FILE_HEADER_SIZE + IMAGE_SIZE + 1)

// The verdict on a file.  Every check is made that the bytes allow, so that
// a program describing the file can name each; nRefusal is the first that
// fails in the reader's order, the one the reader reports.
struct UpdateFileVerdict {
  int nRefusal;
  int bEncrypted;           // judged as an update file (else a raw file)
  uint32_t ulHeaderBytes;   // header bytes present (12 when whole)
  uint8_t bType, bModel;    // update files: from the type byte
  uint32_t nMinHexAddress;  // the header's fields; a field cut short keeps
  uint32_t nMaxHexAddress;  // zero in its missing bytes
  uint16_t wStoredCrc, wPayloadCrc;
  bool bKnownType;      // the reader takes the type byte's type code
  bool bModelAccepted;  // not main firmware, or for a main-CPU model
  bool bTooLarge;       // more data than the store takes
  bool bIdataFits;      // not a main file, or one that holds its idata block
  bool bCrcHolds;
  bool bStartsAtZero;   // nMinHexAddress is 0
  const uint8_t *pbData;  // the bytes after the header (raw: all of them)
  uint32_t ulData;        // how many, at most what the store takes
  uint32_t ulPayload;     // the image's bytes: the data less a main file's idata block
  const uint8_t *pbIdata; // a main file's idata block (within the data), else null
  uint32_t ulLength;      // what the reader returns: the image bytes it loads
};

// Judges the first ulRead bytes of a file, of which it reads at most
// UPDATE_FILE_READ_LIMIT: a file that fills them is longer than the reader
// takes.  bEncrypted: an update file; otherwise a raw logo or HTML file of
// type bRawType, which for every type but HTML gets its 16-bit length in
// front.  Prints nothing and changes no setting.
void judgeUpdateFile(const uint8_t *pb, uint32_t ulRead, int bEncrypted, uint8_t bRawType,
                     UpdateFileVerdict *pVerdict);

// Reads the file at pszPath as far as the reader ever looks and judges it
// (as judgeUpdateFile).  Returns 1 with the verdict, whose bytes stay valid
// until the next read; 0 when the file cannot be opened; -1 when a read
// failed (reported).  Prints nothing else and changes no setting.
int judgeUpdateFileAt(const char *pszPath, int bEncrypted, uint8_t bRawType,
                      UpdateFileVerdict *pVerdict);

// The reader's message for the verdict's refusal, naming the path, into
// pszText (empty when none is due).  Returns its length.
int updateFileRefusalText(const UpdateFileVerdict *pVerdict, const char *pszPath, char *pszText,
                          int nSize);

// Loads the file into the image store.  With g_bEncrypted set it reads an
// update file (header checked, type and model taken from it, payload CRC
// verified, nothing decrypted); otherwise a raw logo or HTML file, which
// for every type but HTML gets its 16-bit length in front.  Returns the
// number of image bytes now in g_abImage, 0 on failure (after a message,
// or with none when the file held no data).
int32_t readUpdateFile(const char *pszPath);

// Loads the bytes of a verdict that accepted them into the image store as
// readUpdateFile does (an update file's type and model into the settings).
// Returns the number of image bytes now in g_abImage.
int32_t loadUpdateFileVerdict(const UpdateFileVerdict *pVerdict);

#endif
