#pragma once

// What another document working on the same instrument may ask of the
// controller window: after it has changed the set point or the current
// limits behind the panels' backs, the panels that show them read them
// again. Each does nothing while that panel is hidden.
class ConfigViewNotifications {
public:
    virtual ~ConfigViewNotifications() = default;
    // The Measurement panel re-reads its set point.
    virtual void NotifySetPoint() = 0;
    // The Limits panel re-reads all four limits.
    virtual void NotifyLimits() = 0;
};
