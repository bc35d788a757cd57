// Storage and initial values of the process-wide settings (see settings.h
// for who writes each of them and when).
#include "app/settings.h"

char g_szIpAddress[SETTING_TEXT_SIZE] = DEFAULT_IP_ADDRESS;
char g_szPassword[SETTING_TEXT_SIZE];
char g_szFileName[SETTING_TEXT_SIZE];
uint8_t g_szKey[SETTING_KEY_SIZE];
uint8_t g_bModel;
uint8_t g_bFileType;
int g_bEncrypted = 1;
uint8_t g_bFirstBlockOnly = 1;
uint16_t g_usDebugPort = 9029;
uint16_t g_usUpdatePort = 69;
