// SPDX-License-Identifier: Apache-2.0
// Fuzzes the simulated device with whatever reaches its update port: the input is cut into
// datagrams (each led by its 16-bit length) for a device with a key, which deciphers and checks
// every transfer, and with faults on the first requests.  Every reply is a 23-byte datagram, and a
// stray reply its page + 1.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "image/image_store.h"
#include "tools/zvdevsim/device.h"
#include "tools/zvdevsim/faults.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static SimDevice s_device;
  static std::vector<SimFault> s_faults = [] {
    std::vector<SimFault> faults(3);
    simParseFault("2:dup", &faults[0]);
    simParseFault("3:stray:2", &faults[1]);
    simParseFault("4:len:40", &faults[2]);
    return faults;
  }();
  simInitDevice(&s_device, 1, "pw", "fuzzkey", n > 0 && (pb[0] & 1));
  uint32_t ulRequest = 0;
  for (size_t i = 0; i + 2 <= n;) {
    size_t nLength = std::min<size_t>(getLe16(pb + i), n - i - 2);
    Bytes datagram(pb + i + 2, pb + i + 2 + nLength);
    i += 2 + nLength;
    SimOutcome outcome;
    simHandleRequest(&s_device, datagram.data(), (int)datagram.size(), &outcome);
    SimDelivery delivery;
    if (!simPlanDelivery(s_faults, ++ulRequest, &outcome, &delivery, nullptr)) continue;
    for (const SimDatagram &reply : simDeliveryDatagrams(&delivery, 1))
      FUZZ_CHECK(reply.nLength == PACKET_HEADER_SIZE || ulRequest == 4);
  }
  return 0;
}
