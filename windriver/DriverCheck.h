// Quorrin windriver -- the start-up check that the driver answers, with one
// attempt to install it through DriverTools/WindriverLoad.bat.
#pragma once

bool CheckDriver();
bool InstallDriver();
