// Puts the process-wide settings back to their start-up values, so
// that in-process tests do not see each other's options.
#ifndef ZV_SETTINGS_RESET_H
#define ZV_SETTINGS_RESET_H

#include "app/settings.h"

inline void resetSettings() { setDefaultSettings(); }

#endif
