// SPDX-License-Identifier: Apache-2.0
// The kind of a logo or HTML image by its bytes (see image_kind.h).
#include "image/image_kind.h"

#include <algorithm>

#include "image/image_store.h"
#include "image/update_file.h"

int imageIsText(const uint8_t *pb, uint32_t ulLength) {
  uint32_t ulSpan = std::min(ulLength, (uint32_t)IMAGE_TEXT_SPAN);
  for (uint32_t i = 0; i < ulSpan; i++) {
    uint8_t b = pb[i];
    if ((b < 0x20 && b != '\t' && b != '\n' && b != '\f' && b != '\r') || b == 0x7F) return 0;
  }
  return 1;
}

PayloadKind payloadKind(const uint8_t *pbPlain, uint32_t ulPayload) {
  if (!payloadLooksLikeLogo(pbPlain, ulPayload)) return PAYLOAD_PAGE;
  // The header keeps the length modulo 64 KiB; 0 stands for a multiple of
  // it, longer than the span judged.
  uint32_t ulLength = imageHeaderLength(pbPlain);
  uint32_t ulRoom = ulPayload - IMAGE_HEADER_SIZE;
  if (ulLength == 0) ulLength = ulRoom;
  ulLength = std::min(ulLength, ulRoom);
  return imageIsText(pbPlain + IMAGE_HEADER_SIZE, ulLength) ? PAYLOAD_TEXT_LENGTH : PAYLOAD_LOGO;
}
