// dgterm --list: what a session can use on this machine.
#pragma once

#include "Station.h"

// Prints the modes with their snap-in files, the sound driver with its devices,
// and how COM ports map to devices.
void PrintStationList(const Station& station);
