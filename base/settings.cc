// SPDX-License-Identifier: Apache-2.0
// Storage and start-up values of the process-wide settings (see settings.h
// for who writes each of them and when).
#include "base/settings.h"

#include <string.h>

char g_szIpAddress[SETTING_TEXT_SIZE];
char g_szPassword[SETTING_TEXT_SIZE];
char g_szFileName[SETTING_TEXT_SIZE];
uint8_t g_szKey[SETTING_KEY_SIZE];
uint8_t g_bModel;
uint8_t g_bFileType;
int g_bEncrypted;
uint8_t g_bFirstBlockOnly;
uint16_t g_usDebugPort;
uint16_t g_usUpdatePort;

void setDefaultSettings(void) {
  static const char s_szDefaultIp[SETTING_TEXT_SIZE] = DEFAULT_IP_ADDRESS;
  memcpy(g_szIpAddress, s_szDefaultIp, sizeof(g_szIpAddress));
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
