#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>

#include "sim/SensorCurve.h"

namespace sim {

// One TQK-5820 controller: its parameters, its EEPROM settings and a
// thermal model of the TE cooler it drives.
//
// The model: the mount's true temperature relaxes toward ambient (22 C) and
// is pulled down by positive TE current (cooling; negative current heats),
// 10 C per ampere at equilibrium, time constant 30 s. While the output is on,
// a feed-forward plus proportional-integral loop (gains from P and I) drives
// the measured temperature to the set point, the current clamped to the
// current limits. Readings go through the same chain as in the instrument:
// sensor resistance or voltage -> raw channel volts (71, 72, 73) ->
// calibration slopes and offsets -> shown values (1, 2, 5, 6).
class SimUnit {
public:
    struct Answer {
        int endCode;
        std::string data;
    };

    // Refusals. Reads and writes that succeed answer 0.
    static constexpr int kEndUnknownParameter = 3;
    static constexpr int kEndWrongClass = 4;
    static constexpr int kEndBadData = 5;

    // The text that, written to parameter 54, grants production access.
    static constexpr const char* kPassword = "TQK58CAL";
    static constexpr const char* kBlankSerial = " CALLKV ";
    static constexpr const char* kFirmwareVersion = "+001.300";
    static constexpr double kAmbient = 22.0;

    explicit SimUnit(int address = 1);

    // One command. Nothing (no reply at all) while the unit is switched off
    // or halted. Otherwise a read answers the 8-character value text, a
    // write answers the value as the unit now holds it (clamped to its
    // range, rounded to three decimals); refusals echo `data8`.
    std::optional<Answer> handle(int commandClass, int parameter, const std::string& data8);

    // Runs the thermal model forward by `dtSeconds` (at most 10 minutes at
    // a time are simulated; longer steps only settle).
    void advance(double dtSeconds);

    // The address the unit answers to: 1 to 99; 1 again after an EEPROM wipe.
    int address() const { return address_; }

    // Switching off silences the unit; switching it on again is a power-up:
    // a halt ends, the access word locks, the output is off. EEPROM
    // settings and the temperature are kept.
    void setPowered(bool on);
    bool powered() const { return powered_; }
    // As if 52 had been written: no more replies until a power-up.
    void halt() { halted_ = true; }
    bool halted() const { return halted_; }

    // Run-time control. For a measured or fixed value (1, 2, 5, 6, 9, 35,
    // 56, 71-73, 92-94) `text` is pinned: reads return it until release().
    // For a setting it is stored as if written (no access check; 54 takes
    // the text as the access word). False with a reason for an unknown
    // parameter or a numeric setting given a text that is not a number.
    bool force(int parameter, const std::string& text, std::string* error);
    void release(int parameter);

    // The unit's state, for the simulator's status line and for tests.
    double trueTemperature() const { return temperature_; }
    double teCurrent() const { return current_; }
    bool outputOn() const { return outputWord_[7] == '1'; }
    // The last lamp-test pattern written (91); "-000.000" for none.
    const std::string& lampPattern() const { return lampPattern_; }
    // Sensor type 0 to 6 as the coefficients 21 to 24 encode it.
    int sensorType() const;

private:
    struct Settings {
        double setPoint = 25.0;             // in C, or kOhm when setPointIsResistance
        bool setPointIsResistance = false;
        double posLimit = 2.5;              // 7, A
        double negLimit = -2.5;             // 8, A
        double p = 20.0, i = 1.0, d = 0.0;  // 10, 11, 12
        std::array<double, 6> coefficients {10.0, 19.9, 25.0, 10.0, 40.0, 5.236};  // 21-26
        double highLimit = 80.0;            // 31, C
        double lowLimit = -20.0;            // 32, C
        std::string bias = "-000.010";      // 41
        std::string modulation = "+000.000"; // 42
        std::array<double, 5> references {10.0, 100.0, 1.0, 10.0, 10.0};  // 61-65
        std::array<double, 14> calibration {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};  // 74-87
    };

    struct Bias {
        double amps;        // true current through the sensor
        double calibrated;  // the unit's belief of that current (61-64), in A
        bool reference;     // the internal 10 kOhm resistor is switched in
    };

    struct Reading {
        double raw;          // 71, V
        double resistance;   // 2, kOhm
        double temperature;  // 1, C
        bool open;           // over range
        bool shorted;        // under range
    };

    std::string readText(int parameter) const;
    std::optional<Answer> write(int parameter, const std::string& data8);
    void storeNumber(int parameter, double value);
    void loadSensorDefaults(int family);
    void wipe();

    bool resistanceMode() const;
    SensorCurve curve() const;
    Bias bias(double trueKiloOhms) const;
    Reading reading(double trueCelsius, const SensorCurve& curve) const;
    double setPointCelsius(const SensorCurve& curve) const;
    double setPointKiloOhms(const SensorCurve& curve) const;
    double targetCelsius(const SensorCurve& curve) const;
    double effectivePosLimit() const;
    double effectiveNegLimit() const;
    bool beyondHighLimit(const Reading& now) const;
    bool beyondLowLimit(const Reading& now) const;
    std::string statusWord() const;
    void step(double dt, const SensorCurve& curve, double target);

    int address_;
    Settings settings_;
    std::string serial_ = kBlankSerial;
    std::string accessWord_ = "00000000";
    std::string outputWord_ = "+000.000";
    std::string lampPattern_ = "-000.000";
    bool powered_ = true;
    bool halted_ = false;

    // The front-panel display selector (93) steps through its positions;
    // the current-limit digipot (94) slews toward the limit's position,
    // from 0 after a power-up.
    double selectorTime_ = 0.0;
    double digipot_ = 0.0;

    double temperature_ = kAmbient;
    double auxTemperature_ = kAmbient;
    double current_ = 0.0;
    double voltage_ = 0.0;
    double integral_ = 0.0;
    bool currentLimited_ = false;

    std::map<int, std::string> pinned_;
};

} // namespace sim
