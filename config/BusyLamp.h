#pragma once

// The Status panel's "I/O Busy" lamp as the configuration document drives it:
// lit while any read or write of the controller is outstanding.
class BusyLamp {
public:
    virtual ~BusyLamp() = default;
    virtual void SetState(bool on) = 0;
};
