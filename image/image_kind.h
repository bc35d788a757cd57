// SPDX-License-Identifier: Apache-2.0
// What a deciphered logo or HTML image is, judged by its bytes: a logo
// image is a bitmap behind its own length, an HTML page is text.  No CRC
// covers the type byte of an update file, so this is the one rule by
// which zvinspect and the simulated device tell a flipped type bit.
#ifndef ZV_IMAGE_KIND_H
#define ZV_IMAGE_KIND_H

#include <stdint.h>

// How many of an image's first bytes are judged, as version-control tools
// judge text from binary.
#define IMAGE_TEXT_SPAN 8000

// 1 when the first IMAGE_TEXT_SPAN of the ulLength bytes at pb (or all of
// them) are text: no NUL or other control byte but tab, line feed, form
// feed and carriage return.
int imageIsText(const uint8_t *pb, uint32_t ulLength);

enum PayloadKind {
  PAYLOAD_PAGE,         // the image does not begin with its own length: no
                        // logo image (every logo image does)
  PAYLOAD_LOGO,         // it does, and is not text: a logo image
  PAYLOAD_TEXT_LENGTH   // it does, but is text: an HTML page that begins
                        // as a logo image does by chance
};

// The kind of the image in a deciphered payload of ulPayload bytes (its
// image header and pages).
PayloadKind payloadKind(const uint8_t *pbPlain, uint32_t ulPayload);

#endif
