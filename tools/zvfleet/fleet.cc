// SPDX-License-Identifier: Apache-2.0
// Storage of zvfleet's shared state (see fleet.h): the settings, written
// by the command line before anything runs, and the devices of the site
// list, written by the list's reader and then by the main loop alone.
#include "tools/zvfleet/fleet.h"

FleetSettings g_fleet;
FleetRun g_run;
FleetDevice g_aDevices[FLEET_MAX_DEVICES];
int g_nDevices;
