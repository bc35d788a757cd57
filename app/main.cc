// SPDX-License-Identifier: Apache-2.0
// zvloader's entry: the command line, then one of three roads: build an
// update file (-K), upload and listen (the default), or listen only (-no).
#include "app/command_line.h"
#include "app/console.h"
#include "app/settings.h"
#include "image/update_file_builder.h"
#include "monitor/debug_listener.h"
#include "net/update_thread.h"
#include "platform/platform.h"

int main(int argc, char **argv) {
  platInitProcess();
  setDefaultSettings();
  bool bListenOnly = false;
  parseCommandLine(argc, argv, &bListenOnly);

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
    consolePrintf("The device address is not an IPv4 address: %s\n",
                  g_szIpAddress);
    return 1;
  }
  if (!platStartThread(DbgMsgThread)) {
    printError("Unable to create DbgMsgThread");
    return -1;
  }
  if (!bListenOnly && !platStartThread(UpdateThread)) {
    printError("Unable to create UpdateThread");
    return -1;
  }
  platSleepForever();
  return 0;
}
