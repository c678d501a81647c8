#pragma once

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

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
//
// The board's analogue errors (Board) are what calibration takes out; a
// fresh unit has an ideal board. On the production test box the sensor
// socket holds a fixed resistor or the box's small test mount, readings
// carry a little noise that dies away after each change of drive, and the
// operator's meters (meters()) read the true quantities.
class SimUnit {
public:
    struct Answer {
        int endCode;
        std::string data;
    };

    // Analogue errors of the unit's board. The defaults are ideal apart from
    // the 10 kOhm sense resistor, which is always a little low.
    struct Board {
        std::array<double, 3> rawGain {1.0, 1.0, 1.0};        // 71, 72, 73: volts read per true volt (or ampere)
        std::array<double, 3> rawOffset {0.0, 0.0, 0.0};      // V
        std::array<double, 4> biasFactor {1.0, 1.0, 1.0, 1.0}; // true 10 uA, 100 uA, 1 mA, 10 mA per nominal
        double senseResistor = 9.987;                         // kOhm
        double setPointGain = 1.0, setPointOffset = 0.0;      // kOhm reached per kOhm asked; kOhm
        double posLimitGain = 1.0, posLimitOffset = 0.0;      // A driven per A asked; A
        double negLimitGain = 1.0, negLimitOffset = 0.0;
        double refPlus = 5.0, refMinus = -5.0;                // V, the set-point references
    };
    // A plausible board straight from assembly: every path a percent or
    // two off.
    static Board uncalibratedBoard();

    // What the operator's meters on the test box read, free of noise.
    struct Meters {
        double sensorVolts;    // V across the sensor socket
        double biasCurrent;    // the selected bias current, in uA (10, 100 uA) or mA (1, 10 mA)
        double teCurrent;      // A
        double teVolts;        // V
        double refPlus;        // V
        double refMinus;       // V
        double senseResistor;  // kOhm, the 10 kOhm resistor of the AD590 path
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
    // The parameters written to this unit (and answered), oldest first.
    const std::vector<int>& Written() const { return written_; }

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

    void setBoard(const Board& board) { board_ = board; }
    const Board& board() const { return board_; }

    // The production test box: its small test mount (12 C per ampere, time
    // constant 4 s, so set points from 10 to 40 kOhm are in reach) in the
    // sensor socket, and settling noise on the raw readings.
    void attachTestBox(bool on);
    bool testBoxAttached() const { return testBox_; }
    // A fixed resistor in the sensor socket instead of the test mount's
    // thermistor; 0 (or less) takes it out. Only with the test box.
    void setTestResistor(double kiloOhms);
    double testResistor() const { return testResistor_; }
    // The bias ammeter left in the sensor line adds its burden to every
    // resistance the unit measures. Only with the test box.
    void setBiasAmmeter(bool connected);
    // Each read of the actual temperature (and of the sensor's resistance)
    // varies by up to +-`celsius` around the true value, as a noisy
    // sensor's does; 0 (the default) reads it true.
    void setSensorNoise(double celsius) { sensorNoise_ = celsius; }
    Meters meters() const;

    // A stage with a character of its own, for tuning the loop. Without one
    // the unit's loop knows its mount exactly (a feed-forward cancels the
    // mount's gain), so that any P and I hold the set point. With one, the
    // loop is a plain PID that knows nothing of the stage:
    //   current = 0.02 P (e + (I / 60 s) * integral of e + D s * de/dt)
    // in amperes, e the measured temperature less the set point in degrees
    // (a warm stage is cooled by positive current); the integral stops while
    // the current is held at a limit. The stage relaxes toward ambient with
    // time constant `tau`; `cool` degrees per ampere of cooling current and
    // `heat` per ampere of heating current at equilibrium (the TE heats
    // itself, so heating is the stronger); the sensor sees the stage `dead`
    // seconds late and, with sensor noise set, noisy (the loop too).
    struct Stage {
        double tau = 30.0;     // s
        double dead = 0.0;     // s
        double cool = 10.0;    // C per A
        double heat = 10.0;    // C per A
        bool operator==(const Stage& o) const
        {
            return tau == o.tau && dead == o.dead && cool == o.cool && heat == o.heat;
        }
    };
    // "tau=60,dead=4,cool=10,heat=15": keys in any order, each optional
    // (the defaults above). False with a reason for anything else: tau 1 to
    // 10000 s, dead 0 to 3000 s, gains 0.1 to 100 C/A.
    static bool parseStage(const std::string& text, Stage& stage, std::string* error);
    // A stage drawn for a benchmark: tau 5 to 300 s (evenly on a log scale),
    // dead 0.05 to 1 times tau, cooling 6 to 12 C/A, heating 1 to 2 times that.
    static Stage randomStage(std::mt19937& random);
    void setStage(const std::optional<Stage>& stage);
    const std::optional<Stage>& stage() const { return stage_; }
    // The TE wired the wrong way round: positive current heats.
    void setReversed(bool reversed) { reversed_ = reversed; }
    bool reversed() const { return reversed_; }
    // The temperature the sensor sees now (the stage's, `dead` seconds ago).
    double sensedTemperature() const;

    // The unit's state, for the simulator's status line and for tests.
    double trueTemperature() const { return temperature_; }
    double teCurrent() const { return current_; }
    bool outputOn() const { return outputWord_[7] == '1'; }
    // The last lamp-test pattern written (91); "-000.000" for none.
    const std::string& lampPattern() const { return lampPattern_; }
    // Sensor type 0 to 6 as the coefficients 21 to 24 encode it.
    int sensorType() const;

private:
    std::vector<int> written_;
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
        double nominal;     // the range's nominal current
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

    struct Plant {
        double degreesPerAmp;
        double tau;
    };

    std::string readText(int parameter) const;
    Plant plant() const;
    // Settling noise of raw channel 71, 72 or 73 now, in volts.
    double noise(int parameter) const;
    // Raw channel 72 (TE current) or 73 (TE voltage) as the unit reads it.
    double rawTe(int parameter) const;
    void changed() { lastChange_ = elapsed_; }
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
    // The plain PID of a unit with a stage.
    void loopStep(double dt, double measured, double target);

    int address_;
    Settings settings_;
    std::string serial_ = kBlankSerial;
    std::string accessWord_ = "00000000";
    std::string outputWord_ = "+000.000";
    std::string lampPattern_ = "-000.000";
    bool powered_ = true;
    double sensorNoise_ = 0;
    mutable std::mt19937 noiseRandom_;
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

    std::optional<Stage> stage_;
    bool reversed_ = false;
    // The stage's temperature at each step of the last `dead` seconds (model
    // time, temperature), oldest first; the loop's last measurement and its
    // filtered slope.
    std::deque<std::pair<double, double>> history_;
    double lastMeasured_ = kAmbient;
    double slope_ = 0.0;
    double elapsedInSteps_ = 0.0;   // s of model time, step by step

    std::map<int, std::string> pinned_;

    Board board_;
    bool testBox_ = false;
    double testResistor_ = 0.0;
    bool biasAmmeter_ = false;
    double elapsed_ = 0.0;       // s of model time
    double lastChange_ = -1e9;   // model time of the last change of drive
};

} // namespace sim
