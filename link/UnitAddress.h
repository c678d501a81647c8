#pragma once

// A unit on a line: the port (0 to 3 for COM1 to COM4) and the unit number
// (0 to 99). Every unit answers to the one device digit,
// protocol::kDeviceDigit, so it is not part of the address.
struct UnitAddress {
    int port = 0;
    int unit = 0;

    bool operator==(const UnitAddress& other) const { return port == other.port && unit == other.unit; }
    bool operator!=(const UnitAddress& other) const { return !(*this == other); }
};
