#pragma once

// What kind of window shows a shared reading. The document lets neither the
// Status panel nor the Measurement panel drive the refresh of a reading that
// another window shows as well.
enum class ConsumerKind { StatusPanel, MeasurementPanel, Other };

// A window (panel or document) that shows one of the shared readings 1, 2,
// 5, 6, 9 and 35 or a set point (3, 4) and registers itself with the
// configuration document.
class ParameterConsumer {
public:
    virtual ~ParameterConsumer() = default;
    virtual ConsumerKind consumerKind() const { return ConsumerKind::Other; }
};
