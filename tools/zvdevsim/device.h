// The simulated device behind zvdevsim: its page memory, model and set
// password, the state of the transfer in progress, and the handling of one
// update request into one reply.  No sockets here, so it can be tested alone.
#ifndef ZV_DEVSIM_DEVICE_H
#define ZV_DEVSIM_DEVICE_H

#include <stdint.h>

#include <vector>

#define SIM_PAGE_SIZE 256
#define SIM_PAGES 65536
// Every request starts with the 23-byte header; every reply is one.
#define SIM_HEADER_LEN 23
// The image header that leads the first data packet of an encrypted transfer.
#define SIM_IMAGE_HEADER_LEN 8
#define SIM_PASSWORD_LEN 16

// Command codes on the wire.
#define SIM_CMD_ACK 1
#define SIM_CMD_NACK 2
#define SIM_CMD_DATA 5
#define SIM_CMD_COMMIT 6
#define SIM_CMD_GET_MODEL 7

// NACK codes the device sends.
#define SIM_NACK_BAD_PASSWORD 4
#define SIM_NACK_BAD_CRC 6

// Flag bit of a data packet that carries the 8 image header bytes.
#define SIM_FLAG_FIRST_PACKET 0x80

struct SimDevice {
  uint8_t bModel;
  uint8_t abPassword[SIM_PASSWORD_LEN];  // first 16 characters, zero padded
  std::vector<uint8_t> abMemory;         // SIM_PAGES pages of 256 bytes
  // The transfer: begun by a data packet after a commit or a model query, or
  // by any data packet carrying the image header.  A commit ends it but keeps
  // its header, so that a resent commit gets the same verdict.
  int bInTransfer;
  int bHasHeader;
  uint8_t abHeader[SIM_IMAGE_HEADER_LEN];
};

// What the device made of one request.
enum SimKind {
  SIM_KIND_IGNORED = 0,  // no answer
  SIM_KIND_MODEL,
  SIM_KIND_DATA,
  SIM_KIND_COMMIT
};

struct SimOutcome {
  int nKind;
  int bReply;  // 1 when abReply holds the answer
  uint8_t abReply[SIM_HEADER_LEN];
  int bCommitOk;            // commit: the CRC matched
  uint16_t usFirst, usEnd;  // commit: its page range
  char szLine[96];          // report line, without a line end
};

void simInitDevice(SimDevice *pDev, uint8_t bModel, const char *pszPassword);

// Handles one received datagram of nLength bytes (any length, any content).
void simHandleRequest(SimDevice *pDev, const uint8_t *pRequest, int nLength,
                      SimOutcome *pOut);

// The source stream of the last transfer as the device reassembled it: the
// image header when its first packet carried one, then pages first to
// end - 1 (none when end <= first).
void simTransferStream(const SimDevice *pDev, uint16_t usFirst, uint16_t usEnd,
                       std::vector<uint8_t> *pStream);

// A reply: command, byte 1, page little-endian at bytes 3 and 4, rest zero.
void simMakeReply(uint8_t bCommand, uint8_t bCode, uint16_t usPage,
                  uint8_t *pReply);

#endif
