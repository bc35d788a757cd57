// Builds update file bytes for tests: header (magic, type byte, extent,
// CRC of the payload), payload and an optional idata block.
#ifndef ZV_UPDATE_FILE_BYTES_H
#define ZV_UPDATE_FILE_BYTES_H

#include "image/crc16.h"
#include "image/image_store.h"
#include "tests/support/temp_dir.h"

inline Bytes updateFile(uint8_t bTypeModel, const Bytes &payload,
                        const Bytes &idata = {}, uint32_t ulMin = 0) {
  Bytes file(12);
  file[0] = 0x41;
  file[1] = bTypeModel;
  putLe32(&file[2], ulMin);
  putLe32(&file[6], (uint32_t)payload.size());
  putLe16(&file[10], calcCrc16(payload.data(), (uint32_t)payload.size()));
  file.insert(file.end(), payload.begin(), payload.end());
  file.insert(file.end(), idata.begin(), idata.end());
  return file;
}

#endif
