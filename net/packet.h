// SPDX-License-Identifier: Apache-2.0
// The update protocol's datagrams.  Every request starts with the 23-byte
// CodeUpdatePacket header (command, count, flags, page, 16-byte password,
// the constant 16; 16-bit fields little-endian and unaligned), followed by
// a data area whose size depends on the command.  A valid reply is exactly
// 23 bytes laid out like the header.
#ifndef ZV_PACKET_H
#define ZV_PACKET_H

#include <stdint.h>


// Command codes.
#define TFTP_ACK 1
#define TFTP_NACK 2
#define TFTP_DATA 5
#define TFTP_COMMIT 6
#define TFTP_GET_MODEL 7

// NACK codes (byte 1 of a TFTP_NACK).
#define NACK_UNKNOWN_MODEL 1
#define NACK_BAD_PASSWORD 4
#define NACK_BAD_CRC 6
#define NACK_BAD_VERSION 8

// bFlags bits.
#define FLAG_FIRST_PACKET 0x80  // first data packet, image header leads
#define FLAG_ENCRYPTED 0x01     // the data is enciphered in the update file

// Header layout.
#define PACKET_COMMAND 0
#define PACKET_COUNT 1
#define PACKET_FLAGS 2
#define PACKET_PAGE 3
#define PACKET_PASSWORD 5
#define PACKET_CONST 21
#define PASSWORD_FIELD_SIZE 16
#define PACKET_CONST_VALUE 16

// Datagrams: every request starts with the 23-byte header; a data request
// carries four page slots (1024 bytes) whatever its page count, the first
// one of an enciphered file the 8-byte image header before them.
#define PACKET_HEADER_SIZE 23
#define PAGES_PER_PACKET 4
#define PACKET_PAGE_BYTES 1024
#define DATA_REQUEST_SIZE (PACKET_HEADER_SIZE + PACKET_PAGE_BYTES)  // without the image header
#define IDATA_CLEAR_SIZE (PACKET_HEADER_SIZE + 256)
#define COMMIT_SIZE (PACKET_HEADER_SIZE + 6)
#define REPLY_SIZE PACKET_HEADER_SIZE  // laid out like the request header
// The commit's data area: first page, end page, CRC.
#define COMMIT_FIRST_AT PACKET_HEADER_SIZE
#define COMMIT_END_AT (PACKET_HEADER_SIZE + 2)
#define COMMIT_CRC_AT (PACKET_HEADER_SIZE + 4)

#define PACKET_BUFFER_SIZE 2048  // request and reply buffers
#define PACKET_DATA_AREA (PACKET_BUFFER_SIZE - PACKET_HEADER_SIZE)

// Commit codes (byte 1 of a TFTP_COMMIT).
#define COMMIT_MAIN 9
#define COMMIT_LOGO_IDATA 11
#define COMMIT_HTML 13

// Copies the first 16 password characters (zero-filled) and the constant
// into the request header; done once per transfer.
void preparePacketHeader(uint8_t *pbRequest, const char *pszPassword);

// The password field as a request carries it: the first 16 characters,
// zero-filled, into the PASSWORD_FIELD_SIZE bytes at pbField.
void putPasswordField(uint8_t *pbField, const char *pszPassword);

// Sets command, count, flags and page; each returns nothing, the caller
// chooses the datagram length from the data it placed.
void setPacketFields(uint8_t *pbRequest, uint8_t bCommand, uint8_t bCount,
                     uint8_t bFlags, uint16_t wPage);

// Writes the commit's data area: first page, end page, CRC.
void setCommitData(uint8_t *pbRequest, uint16_t wFirst, uint16_t wEnd,
                   uint16_t wCrc);

// A request as the device reads it.
struct Request {
  uint8_t bCommand;
  uint8_t bCount;  // pages carried, or the commit code
  uint8_t bFlags;
  uint16_t wPage;
  const uint8_t *pbPassword;  // the PASSWORD_FIELD_SIZE bytes as sent
  const uint8_t *pbData;      // the data area behind the header
  int nDataLength;
};

// Returns true and fills *pRequest when the datagram of nLength bytes
// holds a whole header.
bool parseRequest(const uint8_t *pbRequest, int nLength, Request *pRequest);

// Reads the commit's data area of a request of at least COMMIT_SIZE bytes.
void getCommitData(const uint8_t *pbRequest, uint16_t *pwFirst, uint16_t *pwEnd,
                   uint16_t *pwCrc);

// The fields of a reply that the tool reads.
struct Reply {
  uint8_t bCommand;
  uint8_t bValue;  // model, or NACK code
  uint16_t wPage;
};

// A reply is valid only when it is exactly 23 bytes long.  Returns true
// and fills *pReply for a valid reply.
bool parseReply(const uint8_t *pbReply, int nLength, Reply *pReply);

// The device's side: the REPLY_SIZE bytes of a reply, its fields in their
// places and every other byte zero.
void makeReply(const Reply *pReply, uint8_t *pbReply);

#endif
