#include "sim/SensorCurve.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr double kKelvin = 273.15;
// The span searched for a thermistor resistance: 1 ohm to 100 megohm.
const double kLogMin = std::log(1.0);
const double kLogMax = std::log(1.0e8);

} // namespace

SensorCurve SensorCurve::thermistor(double t1, double r1, double t2, double r2, double t3, double r3)
{
    const double ts[3] = {t1, t2, t3};
    const double rs[3] = {r1, r2, r3};
    double l[3];
    double y[3];
    for (int i = 0; i < 3; ++i) {
        if (!(rs[i] > 0) || !(ts[i] > -kKelvin) || !std::isfinite(rs[i]) || !std::isfinite(ts[i]))
            return defaultThermistor();
        l[i] = std::log(rs[i] * 1000.0);
        y[i] = 1.0 / (ts[i] + kKelvin);
    }
    if (l[0] == l[1] || l[0] == l[2] || l[1] == l[2])
        return defaultThermistor();
    const double g2 = (y[1] - y[0]) / (l[1] - l[0]);
    const double g3 = (y[2] - y[0]) / (l[2] - l[0]);
    SensorCurve curve;
    curve.c_ = (g3 - g2) / (l[2] - l[1]) / (l[0] + l[1] + l[2]);
    curve.b_ = g2 - curve.c_ * (l[0] * l[0] + l[0] * l[1] + l[1] * l[1]);
    curve.a_ = y[0] - (curve.b_ + l[0] * l[0] * curve.c_) * l[0];
    // 1/T must rise with ln R over the whole span, so that the curve can be
    // inverted; its derivative b + 3 c L^2 is smallest at one end.
    const double dMin = curve.b_ + 3.0 * curve.c_ * (curve.c_ < 0 ? kLogMax * kLogMax : 0.0);
    if (!(dMin > 0) || !std::isfinite(curve.a_))
        return defaultThermistor();
    return curve;
}

SensorCurve SensorCurve::defaultThermistor()
{
    static const SensorCurve curve = thermistor(10.0, 19.9, 25.0, 10.0, 40.0, 5.236);
    return curve;
}

SensorCurve SensorCurve::rtd(double t1, double r1, double t2, double r2)
{
    if (t1 == t2 || r1 == r2 || !std::isfinite(t1 + r1 + t2 + r2))
        return defaultRtd();
    SensorCurve curve;
    curve.thermistor_ = false;
    curve.t0_ = t1;
    curve.r0_ = r1;
    curve.slope_ = (r2 - r1) / (t2 - t1);
    return curve;
}

SensorCurve SensorCurve::defaultRtd()
{
    return rtd(0.0, 0.1, 100.0, 0.139);
}

double SensorCurve::resistance(double celsius) const
{
    if (!thermistor_)
        return std::max(0.0001, r0_ + slope_ * (celsius - t0_));
    // 1/T rises with ln R: bisect on ln R.
    const double target = 1.0 / (std::max(celsius, -kKelvin + 1.0) + kKelvin);
    double lo = kLogMin;
    double hi = kLogMax;
    for (int i = 0; i < 64; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (a_ + b_ * mid + c_ * mid * mid * mid < target)
            lo = mid;
        else
            hi = mid;
    }
    return std::max(0.0001, std::exp(0.5 * (lo + hi)) / 1000.0);
}

double SensorCurve::temperature(double kiloOhms) const
{
    if (!thermistor_)
        return t0_ + (kiloOhms - r0_) / slope_;
    const double l = std::clamp(std::log(std::max(kiloOhms, 1e-9) * 1000.0), kLogMin, kLogMax);
    return 1.0 / (a_ + b_ * l + c_ * l * l * l) - kKelvin;
}

} // namespace sim
