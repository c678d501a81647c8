#pragma once

#include <string>

class Profile;

// Where a port name "COM1" to "COM4" leads on this machine: the environment
// variable TESSOL_COM1 ... TESSOL_COM4 first, then profile section "Ports"
// keys "sCOM1" ... "sCOM4" (if a profile is given), then /dev/ttyS0 ... /dev/ttyS3
// (on Windows the port itself, "\\.\COM1" ... "\\.\COM4").
// Any other name is returned unchanged, so a device path may be given directly.
std::string resolvePortPath(const std::string& portName, const Profile* profile);
