#pragma once

namespace sim {

// The resistance-temperature relation of a resistive sensor: a thermistor
// (Steinhart-Hart through three points) or an RTD (straight line through two
// points). Temperatures in degrees Celsius, resistances in kilo-ohms.
class SensorCurve {
public:
    // Three (temperature, resistance) points. An inconsistent set (a curve
    // that is not strictly falling with temperature) gives the default
    // thermistor: 10 kOhm at 25 C, the points (10, 19.9), (25, 10), (40, 5.236).
    static SensorCurve thermistor(double t1, double r1, double t2, double r2, double t3, double r3);
    static SensorCurve defaultThermistor();
    // Two (temperature, resistance) points. Coinciding points give the
    // default RTD: 0.1 kOhm at 0 C and 0.139 kOhm at 100 C.
    static SensorCurve rtd(double t1, double r1, double t2, double r2);
    static SensorCurve defaultRtd();

    // Resistance at `celsius`, at least 0.0001 kOhm.
    double resistance(double celsius) const;
    // Temperature at `kiloOhms`; resistances outside the curve's span give
    // the temperature at the nearer end.
    double temperature(double kiloOhms) const;

    bool isThermistor() const { return thermistor_; }

private:
    SensorCurve() = default;

    bool thermistor_ = true;
    // Steinhart-Hart: 1/T = a + b ln R + c (ln R)^3, T in kelvin, R in ohms.
    double a_ = 0, b_ = 0, c_ = 0;
    // RTD: R = r0 + slope (T - t0).
    double t0_ = 0, r0_ = 0, slope_ = 0;
};

} // namespace sim
