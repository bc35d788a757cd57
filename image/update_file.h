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

#include <stdint.h>

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

// Loads the file into the image store.  With g_bEncrypted set it reads an
// update file (header checked, type and model taken from it, payload CRC
// verified, nothing decrypted); otherwise a raw logo or HTML file, which
// for every type but HTML gets its 16-bit length in front.  Returns the
// number of image bytes now in g_abImage, 0 on failure (after a message,
// or with none when the file held no data).
int32_t readUpdateFile(const char *pszPath);

#endif
