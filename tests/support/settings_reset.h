// Puts the process-wide settings back to their start-up values, so that
// in-process tests do not see each other's options.
#ifndef ZV_SETTINGS_RESET_H
#define ZV_SETTINGS_RESET_H

#include <string.h>

#include "app/settings.h"

inline void resetSettings() {
  memset(g_szIpAddress, 0, sizeof(g_szIpAddress));
  strcpy(g_szIpAddress, DEFAULT_IP_ADDRESS);
  memset(g_szPassword, 0, sizeof(g_szPassword));
  memset(g_szFileName, 0, sizeof(g_szFileName));
  memset(g_szKey, 0, sizeof(g_szKey));
  g_bModel = 0;
  g_bFileType = 0;
  g_bEncrypted = 1;
  g_bFirstBlockOnly = 1;
  g_usDebugPort = 9029;
  g_usUpdatePort = 69;
}

#endif
