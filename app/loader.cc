// SPDX-License-Identifier: Apache-2.0
// zvloader's roads (see loader.h).
#include "app/loader.h"

#include "app/command_line.h"
#include "base/console.h"
#include "base/settings.h"
#include "image/image_store.h"
#include "image/update_file_builder.h"
#include "monitor/debug_listener.h"
#include "net/receive_channel.h"
#include "net/update_thread.h"
#include "platform/platform.h"

void resetZvloaderState(void) {
  setDefaultSettings();
  clearImageStore();
  resetReceiveChannel();
}

int runZvloader(int argc, char **argv) {
  platInitProcess();
  setDefaultSettings();
  bool bListenOnly = false;
  if (!parseCommandLine(argc, argv, &bListenOnly)) return 1;

  if (g_szKey[0] != 0) {
    makeEncryptFile();
    return 1;
  }
  if (!platSocketStartup()) {
    printError("WSAStartup failed");
    return -1;
  }
  // inet_addr reads "127.1" and the like too, but gives 255.255.255.255
  // for a text it cannot read: no device has that address.
  if (!bListenOnly && platInetAddr(g_szIpAddress) == 0xFFFFFFFFu) {
    consolePrintf("The device address is not an IPv4 address: %s\n", g_szIpAddress);
    return 1;
  }
  // The listener is bound before the update thread starts: the device's
  // debug lines of the first requests are never lost.
  openDebugSocket();
  if (!platStartThread(DbgMsgThread)) {
    printError("Unable to create DbgMsgThread");
    return -1;
  }
  if (!bListenOnly && !platStartThread(UpdateThread)) {
    printError("Unable to create UpdateThread");
    return -1;
  }
  return platSleepForever();
}
