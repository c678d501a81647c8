#include "sim/SimUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "link/ParameterNumbers.h"
#include "link/Protocol.h"

namespace sim {

namespace {

enum class Kind { Number, Text };

struct ParameterInfo {
    bool read;
    bool write;
    Kind kind;
};

// What each parameter number answers to; nothing for a number the unit
// does not know.
std::optional<ParameterInfo> parameterInfo(int p)
{
    constexpr ParameterInfo readNumber {true, false, Kind::Number};
    constexpr ParameterInfo number {true, true, Kind::Number};
    constexpr ParameterInfo writeNumber {false, true, Kind::Number};
    constexpr ParameterInfo readText {true, false, Kind::Text};
    constexpr ParameterInfo text {true, true, Kind::Text};
    constexpr ParameterInfo writeText {false, true, Kind::Text};
    switch (p) {
    case pn::kActualTemperature: case pn::kSensorResistance: case pn::kTeCurrent: case pn::kTeVoltage:
    case pn::kAuxTemperature: case pn::kRawActual: case pn::kRawTeCurrent: case pn::kRawTeVoltage:
        return readNumber;
    case pn::kSetTemperature: case pn::kSetResistance: case pn::kPositiveCurrentLimit:
    case pn::kNegativeCurrentLimit: case pn::kPidP: case pn::kPidI: case pn::kPidD:
    case pn::kHighTemperatureLimit: case pn::kLowTemperatureLimit:
        return number;
    case pn::kStatusWord: case pn::kFirmwareVersion: case pn::kOutputStatus: case pn::kSwitchStatus:
    case pn::kPotCounter:
        return readText;
    case pn::kBiasMode: case pn::kModulation: case pn::kOutputState: case pn::kAccessWord: case pn::kSerialNumber:
        return text;
    case pn::kHalt: case pn::kSessionEnd: case pn::kClearEeprom:
        return writeNumber;
    case pn::kLampPattern:
        return writeText;
    default:
        break;
    }
    if (pn::within(p, pn::kCoefficientFirst, pn::kCoefficientCount)
        || pn::within(p, pn::kReferenceFirst, pn::kReferenceCount)
        || pn::within(p, pn::kCalibrationFirst, pn::kCalibrationCount))
        return number;
    return std::nullopt;
}

bool pinnable(int p)
{
    const auto info = parameterInfo(p);
    return info && info->read && !info->write;
}

// The data field holds a number: optional blanks, an optional sign, digits
// with at most one point, optional trailing blanks.
bool isNumberText(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    bool digit = false;
    bool point = false;
    for (; i < text.size() && text[i] != ' '; ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            digit = true;
        else if (text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    for (; i < text.size(); ++i)
        if (text[i] != ' ')
            return false;
    return digit;
}

constexpr double kRenderMax = 999.999;

std::string render(double value)
{
    if (!std::isfinite(value))
        return "+999.999";
    return protocol::renderNumber(std::clamp(value, -kRenderMax, kRenderMax));
}

// The value as the unit stores it: three decimals, within what fits in
// the data field.
double quantize(double value)
{
    return protocol::textToDouble(render(value));
}

// The code in parameters 21 and 22: 0 for a thermistor (whose pair is a
// calibration point), otherwise the sensor type that the code starts.
int codeFamily(double c21, double c22)
{
    if (c21 == 0 && c22 == 0)
        return 1;
    if (c21 == 1 && c22 == 1)
        return 2;
    for (int code = 2; code <= 4; ++code)
        if (c21 == code && c22 == code)
            return code + 2;
    return 0;
}

// Plant and loop constants.
constexpr double kDegreesPerAmp = 10.0;     // equilibrium cooling per ampere
constexpr double kThermalTau = 30.0;        // s
constexpr double kTeResistance = 1.6;       // ohm
constexpr double kSeebeck = 0.01;           // V per C of difference to ambient
constexpr double kSinkRise = 0.25;          // C per W dissipated
constexpr double kSinkTau = 60.0;           // s
constexpr double kIntegralBand = 0.5;       // C; the integral acts only this close
constexpr double kStep = 0.05;              // s, integration step
constexpr double kMaxAdvance = 600.0;       // s
constexpr double kSelectorSeconds = 3.0;    // s on each display-selector position
constexpr double kDigipotRate = 40.0;       // digipot counts per second
// Front end: the sensor voltage saturates at 5 V; the AD590 and the
// resistor procedure use the internal 10 kOhm sense resistor, whose true
// value is a little low, as on a real board before calibration.
constexpr double kMaxSensorVolts = 5.0;
constexpr double kMinSensorVolts = 0.0005;
constexpr double kAutoBiasVolts = 2.5;
constexpr double kKelvin = 273.15;
constexpr double kCurrentCeiling = 5.99;    // A
// The test box: its mount, the noise picked up after a change of drive, and
// the burden of a bias ammeter left in the sensor line.
constexpr double kTestMountDegreesPerAmp = 12.0;
constexpr double kTestMountTau = 4.0;       // s
constexpr double kNoiseVolts = 0.02;        // V right after a change
constexpr double kNoiseSettle = 1.5;        // s, time constant of its decay
constexpr double kAmmeterBurden = 1.5;      // kOhm

// A number from -1 to 1 that depends only on its two arguments.
double hashUnit(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t z = a * 0x9e3779b97f4a7c15ULL + b + 0x632be59bd9b4e019ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / static_cast<double>(1ULL << 52) - 1.0;
}

} // namespace

SimUnit::SimUnit(int address) : address_(address) {}

SimUnit::Board SimUnit::uncalibratedBoard()
{
    Board b;
    b.rawGain = {0.985, 1.012, 0.993};
    b.rawOffset = {0.004, -0.006, 0.011};
    b.biasFactor = {1.021, 0.987, 1.009, 0.994};
    b.senseResistor = 9.987;
    b.setPointGain = 1.03;
    b.setPointOffset = -0.15;
    b.posLimitGain = 1.04;
    b.posLimitOffset = -0.03;
    b.negLimitGain = 0.97;
    b.negLimitOffset = 0.02;
    b.refPlus = 4.995;
    b.refMinus = -5.012;
    return b;
}

void SimUnit::attachTestBox(bool on)
{
    testBox_ = on;
    if (!on) {
        testResistor_ = 0.0;
        biasAmmeter_ = false;
    }
    changed();
}

void SimUnit::setTestResistor(double kiloOhms)
{
    testResistor_ = testBox_ && kiloOhms > 0 ? kiloOhms : 0.0;
    changed();
}

void SimUnit::setBiasAmmeter(bool connected)
{
    biasAmmeter_ = testBox_ && connected;
    changed();
}

SimUnit::Plant SimUnit::plant() const
{
    if (testBox_)
        return {kTestMountDegreesPerAmp, kTestMountTau};
    if (stage_)
        return {stage_->cool, stage_->tau};
    return {kDegreesPerAmp, kThermalTau};
}

double SimUnit::noise(int parameter) const
{
    if (!testBox_)
        return 0.0;
    const double age = elapsed_ - lastChange_;
    if (age < 0 || age > 30.0 * kNoiseSettle)
        return 0.0;
    const auto tick = static_cast<std::uint64_t>(elapsed_ * 10.0);
    return kNoiseVolts * std::exp(-age / kNoiseSettle) * hashUnit(tick, static_cast<std::uint64_t>(parameter));
}

SimUnit::Meters SimUnit::meters() const
{
    const SensorCurve sensor = curve();
    const double socket = testResistor_ > 0 ? testResistor_ : sensor.resistance(temperature_);
    const Bias b = bias(socket);
    Meters m {};
    m.sensorVolts = (b.reference ? board_.senseResistor : socket) * 1000.0 * b.amps;
    m.biasCurrent = b.amps / (b.nominal >= 1e-3 ? 1e-3 : 1e-6);
    m.teCurrent = current_;
    m.teVolts = voltage_;
    m.refPlus = board_.refPlus;
    m.refMinus = board_.refMinus;
    m.senseResistor = board_.senseResistor;
    return m;
}

std::optional<SimUnit::Answer> SimUnit::handle(int commandClass, int parameter, const std::string& data8)
{
    if (!powered_ || halted_)
        return std::nullopt;
    const auto info = parameterInfo(parameter);
    if (!info)
        return Answer {kEndUnknownParameter, data8};
    if (commandClass == protocol::kClassRead && info->read)
        return Answer {protocol::kEndOk, readText(parameter)};
    if (commandClass == protocol::kClassWrite && info->write) {
        written_.push_back(parameter);
        return write(parameter, data8);
    }
    return Answer {kEndWrongClass, data8};
}

std::optional<SimUnit::Answer> SimUnit::write(int parameter, const std::string& data8)
{
    const Answer refused {kEndBadData, data8};
    if (data8.size() != protocol::kDataLength)
        return refused;
    const auto info = parameterInfo(parameter);
    if (!info)
        return Answer {kEndUnknownParameter, data8};
    if (info->kind == Kind::Text) {
        switch (parameter) {
        case pn::kBiasMode:
            settings_.bias = data8;
            changed();
            break;
        case pn::kModulation: settings_.modulation = data8; break;
        case pn::kOutputState:
            if (!outputOn())
                integral_ = 0.0;
            outputWord_ = data8;
            changed();
            break;
        case pn::kAccessWord: accessWord_ = data8 == kPassword ? "00000001" : "00000000"; break;
        case pn::kSerialNumber: serial_ = data8; break;
        case pn::kLampPattern:
            lampPattern_ = data8;
            return Answer {protocol::kEndOk, lampPattern_};
        default: break;
        }
        return Answer {protocol::kEndOk, readText(parameter)};
    }
    if (!isNumberText(data8))
        return refused;
    const double value = protocol::textToDouble(data8);
    if (parameter == pn::kSetTemperature || parameter == pn::kSetResistance
        || parameter == pn::kPositiveCurrentLimit || parameter == pn::kNegativeCurrentLimit)
        changed();
    switch (parameter) {
    case pn::kHalt:
        if (value != 0)
            return refused;
        // The halt is acknowledged; after that the processor is gone.
        halted_ = true;
        return Answer {protocol::kEndOk, render(0)};
    case pn::kSessionEnd:
        return Answer {protocol::kEndOk, render(value)};
    case pn::kClearEeprom:
        if (value != 0)
            return refused;
        wipe();
        return Answer {protocol::kEndOk, render(0)};
    default:
        storeNumber(parameter, value);
        return Answer {protocol::kEndOk, readText(parameter)};
    }
}

void SimUnit::storeNumber(int p, double value)
{
    Settings& s = settings_;
    switch (p) {
    case pn::kSetTemperature:
        s.setPoint = quantize(std::clamp(value, -199.9, 199.9));
        s.setPointIsResistance = false;
        return;
    case pn::kSetResistance:
        s.setPoint = quantize(std::clamp(value, 0.1, 499.9));
        s.setPointIsResistance = true;
        return;
    case pn::kPositiveCurrentLimit: s.posLimit = quantize(std::clamp(value, 0.0, 5.0)); return;
    case pn::kNegativeCurrentLimit: s.negLimit = quantize(std::clamp(value, -5.0, 0.0)); return;
    case pn::kPidP: s.p = quantize(std::clamp(value, 1.0, 100.0)); return;
    case pn::kPidI: s.i = quantize(std::clamp(value, 0.0, 10.0)); return;
    case pn::kPidD: s.d = quantize(std::clamp(value, 0.0, 10.0)); return;
    case pn::kHighTemperatureLimit: s.highLimit = quantize(std::clamp(value, -199.9, 199.9)); return;
    case pn::kLowTemperatureLimit: s.lowLimit = quantize(std::clamp(value, -199.9, 199.9)); return;
    default: break;
    }
    if (pn::within(p, pn::kCoefficientFirst, pn::kCoefficientCount)) {
        const int before = codeFamily(s.coefficients[0], s.coefficients[1]);
        s.coefficients[static_cast<std::size_t>(p - pn::kCoefficientFirst)] = quantize(value);
        const int after = codeFamily(s.coefficients[0], s.coefficients[1]);
        // A new code pair starts that sensor with its factory coefficients.
        if (p < pn::kCoefficientFirst + 2 && after != before)
            loadSensorDefaults(after);
    } else if (pn::within(p, pn::kReferenceFirst, pn::kReferenceCount)) {
        s.references[static_cast<std::size_t>(p - pn::kReferenceFirst)] = quantize(value);
    } else if (pn::within(p, pn::kCalibrationFirst, pn::kCalibrationCount)) {
        s.calibration[static_cast<std::size_t>(p - pn::kCalibrationFirst)] = quantize(value);
    }
}

void SimUnit::loadSensorDefaults(int family)
{
    static const std::array<std::array<double, 4>, 7> defaults {{
        {25.0, 10.0, 40.0, 5.236},
        {-1, -1, -1, -1},
        {0, 0.1, 100.0, 0.139},
        {0, 0, -1, -1},
        {1.0, -1, 0, -1},
        {10.0, -1, 0, -1},
        {10.0, -1, 0, -1},
    }};
    const auto& row = defaults[static_cast<std::size_t>(family)];
    std::copy(row.begin(), row.end(), settings_.coefficients.begin() + 2);
}

void SimUnit::wipe()
{
    // Everything the EEPROM holds except the serial number.
    settings_ = Settings {};
    address_ = 1;
    outputWord_ = "+000.000";
    integral_ = 0.0;
}

void SimUnit::setPowered(bool on)
{
    if (on && !powered_) {
        halted_ = false;
        digipot_ = 0.0;
        accessWord_ = "00000000";
        lampPattern_ = "-000.000";
    }
    if (!on) {
        outputWord_ = "+000.000";
        integral_ = 0.0;
    }
    powered_ = on;
}

bool SimUnit::force(int parameter, const std::string& text, std::string* error)
{
    const auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (text.size() != protocol::kDataLength)
        return fail("value must be 8 characters");
    const auto info = parameterInfo(parameter);
    if (!info)
        return fail("unknown parameter " + std::to_string(parameter));
    if (pinnable(parameter)) {
        pinned_[parameter] = text;
        return true;
    }
    if (parameter == pn::kAccessWord) {
        accessWord_ = text;
        return true;
    }
    const auto answer = write(parameter, text);
    if (!answer || answer->endCode != protocol::kEndOk)
        return fail("parameter " + std::to_string(parameter) + " needs a number");
    return true;
}

void SimUnit::release(int parameter)
{
    pinned_.erase(parameter);
}

int SimUnit::sensorType() const
{
    const auto& c = settings_.coefficients;
    const int family = codeFamily(c[0], c[1]);
    if (family == 2 && c[2] == 0 && c[3] == 0)
        return 3;
    return family;
}

bool SimUnit::resistanceMode() const
{
    const int type = sensorType();
    return type == 1 || type == 3;
}

SensorCurve SimUnit::curve() const
{
    const auto& c = settings_.coefficients;
    switch (sensorType()) {
    case 0: return SensorCurve::thermistor(c[0], c[1], c[2], c[3], c[4], c[5]);
    case 2: return SensorCurve::rtd(c[2], c[3], c[4], c[5]);
    case 3: return SensorCurve::defaultRtd();
    default: return SensorCurve::defaultThermistor();
    }
}

SimUnit::Bias SimUnit::bias(double trueKiloOhms) const
{
    struct Range {
        std::size_t position;   // flag character in the bias word
        double amps;
        std::size_t reference;  // index of the measured value, 61 to 64
        double unit;            // of that value: uA or mA
    };
    static const Range ranges[] = {
        {3, 10e-3, 3, 1e-3},
        {5, 1e-3, 2, 1e-3},
        {6, 100e-6, 1, 1e-6},
        {7, 10e-6, 0, 1e-6},
    };
    const std::string& word = settings_.bias;
    const Range* chosen = nullptr;
    if (word.size() == protocol::kDataLength && word[0] != '-') {
        int ones = 0;
        for (const Range& r : ranges)
            if (word[r.position] == '1') {
                ++ones;
                chosen = &r;
            }
        if (ones != 1)
            chosen = nullptr;
    }
    const bool reference = word.size() == protocol::kDataLength && word[2] == '1';
    const double ohms = (reference ? board_.senseResistor : trueKiloOhms) * 1000.0;
    if (!chosen) {
        // Automatic (and custom) bias: the largest current that keeps the
        // sensor voltage within the comfortable part of the input span.
        chosen = &ranges[3];
        for (const Range& r : ranges)
            if (ohms * r.amps <= kAutoBiasVolts) {
                chosen = &r;
                break;
            }
    }
    return {chosen->amps * board_.biasFactor[chosen->reference], chosen->amps,
            settings_.references[chosen->reference] * chosen->unit, reference};
}

SimUnit::Reading SimUnit::reading(double trueCelsius, const SensorCurve& sensor) const
{
    const auto& c = settings_.coefficients;
    const double slope = settings_.calibration[0];
    const double offset = settings_.calibration[1];
    Reading r {};
    const int type = sensorType();
    if (type >= 4) {
        const double kelvin = trueCelsius + kKelvin;
        double volts = 0;
        if (type == 4)
            volts = kelvin * 1e-6 * board_.senseResistor * 1000.0;   // 1 uA/K into the sense resistor
        else if (type == 5)
            volts = kelvin * 0.010;                            // 10 mV/K
        else
            volts = trueCelsius * 0.010;                       // 10 mV/C
        r.raw = board_.rawGain[0] * std::clamp(volts, -kMaxSensorVolts, kMaxSensorVolts) + board_.rawOffset[0]
                + noise(71);
        r.open = std::fabs(volts) >= kMaxSensorVolts;
        const double shown = slope * r.raw + offset;
        const double gain = c[2];
        if (gain == 0 || (type == 4 && settings_.references[4] <= 0)) {
            r.open = true;
            r.temperature = kRenderMax;
        } else if (type == 4) {
            const double microAmps = shown / settings_.references[4] * 1000.0;
            r.temperature = (microAmps - c[4]) / gain - kKelvin;
        } else if (type == 5) {
            r.temperature = (shown * 1000.0 - c[4]) / gain - kKelvin;
        } else {
            r.temperature = (shown * 1000.0 - c[4]) / gain;
        }
        r.resistance = sensor.resistance(r.temperature);
        return r;
    }
    double trueKiloOhms = testResistor_ > 0 ? testResistor_ : sensor.resistance(trueCelsius);
    const Bias b = bias(trueKiloOhms);
    double loadKiloOhms = b.reference ? board_.senseResistor : trueKiloOhms;
    if (biasAmmeter_)
        loadKiloOhms += kAmmeterBurden;
    const double volts = loadKiloOhms * 1000.0 * b.amps;
    r.raw = board_.rawGain[0] * std::min(volts, kMaxSensorVolts) + board_.rawOffset[0] + noise(71);
    r.open = volts >= kMaxSensorVolts;
    r.shorted = volts < kMinSensorVolts;
    if (b.calibrated <= 0) {
        r.open = true;
        r.resistance = kRenderMax;
    } else {
        r.resistance = (slope * r.raw + offset) / b.calibrated / 1000.0;
    }
    r.temperature = sensor.temperature(r.resistance);
    return r;
}

double SimUnit::setPointCelsius(const SensorCurve& sensor) const
{
    return settings_.setPointIsResistance ? sensor.temperature(settings_.setPoint) : settings_.setPoint;
}

double SimUnit::setPointKiloOhms(const SensorCurve& sensor) const
{
    return settings_.setPointIsResistance ? settings_.setPoint : sensor.resistance(settings_.setPoint);
}

double SimUnit::targetCelsius(const SensorCurve& sensor) const
{
    if (resistanceMode()) {
        // The set-point path's calibration: slope 80, offset 81 in volts at
        // the 100 uA bias (62).
        double kiloOhms = settings_.calibration[6] * setPointKiloOhms(sensor);
        if (settings_.references[1] > 0)
            kiloOhms += settings_.calibration[7] * 1000.0 / settings_.references[1];
        kiloOhms = board_.setPointGain * kiloOhms + board_.setPointOffset;
        return sensor.temperature(std::max(kiloOhms, 0.0001));
    }
    const double wanted = setPointCelsius(sensor);
    if (settings_.lowLimit <= settings_.highLimit)
        return std::clamp(wanted, settings_.lowLimit, settings_.highLimit);
    return wanted;
}

double SimUnit::effectivePosLimit() const
{
    const double asked = settings_.calibration[10] * settings_.posLimit + settings_.calibration[11];
    return std::clamp(board_.posLimitGain * asked + board_.posLimitOffset, 0.0, kCurrentCeiling);
}

double SimUnit::effectiveNegLimit() const
{
    const double asked = settings_.calibration[12] * settings_.negLimit + settings_.calibration[13];
    return std::clamp(board_.negLimitGain * asked + board_.negLimitOffset, -kCurrentCeiling, 0.0);
}

bool SimUnit::beyondHighLimit(const Reading& now) const
{
    return !resistanceMode() && now.temperature >= settings_.highLimit - 0.05;
}

bool SimUnit::beyondLowLimit(const Reading& now) const
{
    return !resistanceMode() && now.temperature <= settings_.lowLimit + 0.05;
}

std::string SimUnit::statusWord() const
{
    const Reading now = reading(sensedTemperature(), curve());
    const auto flag = [](bool set) { return set ? '1' : '0'; };
    std::string word = "+000.000";
    word[1] = flag(now.open);
    word[2] = flag(now.shorted);
    word[3] = flag(beyondHighLimit(now));
    word[5] = flag(beyondLowLimit(now));
    word[6] = flag(currentLimited_);
    return word;
}

std::string SimUnit::readText(int p) const
{
    const auto pin = pinned_.find(p);
    if (pin != pinned_.end())
        return pin->second;
    const Settings& s = settings_;
    switch (p) {
    case pn::kActualTemperature:
    case pn::kSensorResistance: {
        double t = sensedTemperature();
        if (sensorNoise_ > 0)
            t += std::uniform_real_distribution<double>(-sensorNoise_, sensorNoise_)(noiseRandom_);
        const auto r = reading(t, curve());
        return render(p == pn::kActualTemperature ? r.temperature : r.resistance);
    }
    case pn::kSetTemperature: return render(setPointCelsius(curve()));
    case pn::kSetResistance: return render(setPointKiloOhms(curve()));
    case pn::kTeCurrent: return render(s.calibration[2] * rawTe(pn::kRawTeCurrent) + s.calibration[3]);
    case pn::kTeVoltage: return render(s.calibration[4] * rawTe(pn::kRawTeVoltage) + s.calibration[5]);
    case pn::kPositiveCurrentLimit: return render(s.posLimit);
    case pn::kNegativeCurrentLimit: return render(s.negLimit);
    case pn::kAuxTemperature: return render(auxTemperature_);
    case pn::kPidP: return render(s.p);
    case pn::kPidI: return render(s.i);
    case pn::kPidD: return render(s.d);
    case pn::kHighTemperatureLimit: return render(s.highLimit);
    case pn::kLowTemperatureLimit: return render(s.lowLimit);
    case pn::kStatusWord: return statusWord();
    case pn::kBiasMode: return s.bias;
    case pn::kModulation: return s.modulation;
    case pn::kOutputState: return outputWord_;
    case pn::kAccessWord: return accessWord_;
    case pn::kSerialNumber: return serial_;
    case pn::kFirmwareVersion: return kFirmwareVersion;
    case pn::kRawActual: return render(reading(sensedTemperature(), curve()).raw);
    case pn::kRawTeCurrent: return render(rawTe(pn::kRawTeCurrent));
    case pn::kRawTeVoltage: return render(rawTe(pn::kRawTeVoltage));
    case pn::kOutputStatus: {
        const Reading now = reading(sensedTemperature(), curve());
        std::string word = "+000.000";
        word[5] = beyondHighLimit(now) || beyondLowLimit(now) ? '1' : '0';
        word[7] = outputOn() ? '1' : '0';
        return word;
    }
    case pn::kSwitchStatus: {
        // One position of the display selector: ACT T, SET T, TE I, TE V,
        // LIM I, AUX T in turn.
        static constexpr int kPositions[] = {7, 6, 5, 3, 2, 1};
        // (The small term keeps sums of integration steps on their second.)
        const auto step = static_cast<long long>(selectorTime_ / kSelectorSeconds + 1e-6) % 6;
        std::string word = "+000.000";
        word[static_cast<std::size_t>(kPositions[step])] = '1';
        return word;
    }
    case pn::kPotCounter: return render(std::round(digipot_));   // current-limit digipot
    default: break;
    }
    if (pn::within(p, pn::kCoefficientFirst, pn::kCoefficientCount))
        return render(s.coefficients[static_cast<std::size_t>(p - pn::kCoefficientFirst)]);
    if (pn::within(p, pn::kReferenceFirst, pn::kReferenceCount))
        return render(s.references[static_cast<std::size_t>(p - pn::kReferenceFirst)]);
    if (pn::within(p, pn::kCalibrationFirst, pn::kCalibrationCount))
        return render(s.calibration[static_cast<std::size_t>(p - pn::kCalibrationFirst)]);
    return render(0);
}

double SimUnit::rawTe(int parameter) const
{
    const std::size_t channel = parameter == pn::kRawTeCurrent ? 1 : 2;
    const double truth = parameter == pn::kRawTeCurrent ? current_ : voltage_;
    return board_.rawGain[channel] * truth + board_.rawOffset[channel] + noise(parameter);
}

void SimUnit::advance(double dtSeconds)
{
    if (!(dtSeconds > 0))
        return;
    elapsed_ += dtSeconds;
    double left = std::min(dtSeconds, kMaxAdvance);
    const SensorCurve sensor = curve();
    const double target = targetCelsius(sensor);
    while (left > 0) {
        const double dt = std::min(left, kStep);
        step(dt, sensor, target);
        if (powered_ && !halted_) {
            selectorTime_ = std::fmod(selectorTime_ + dt, 6 * kSelectorSeconds);
            const double position = std::round(255.0 * effectivePosLimit() / 5.0);
            const double move = kDigipotRate * dt;
            digipot_ = digipot_ < position ? std::min(position, digipot_ + move) : std::max(position, digipot_ - move);
        }
        left -= dt;
    }
}

void SimUnit::step(double dt, const SensorCurve& sensor, double target)
{
    currentLimited_ = false;
    if (powered_ && outputOn()) {
        double measured = sensedTemperature();
        if (stage_ && sensorNoise_ > 0)
            measured += std::uniform_real_distribution<double>(-sensorNoise_, sensorNoise_)(noiseRandom_);
        const Reading now = reading(measured, sensor);
        if (now.open || now.shorted) {
            // A lost sensor trips the output and reports an error.
            outputWord_[7] = '0';
            outputWord_[5] = '1';
            current_ = 0.0;
            integral_ = 0.0;
        } else if (stage_) {
            loopStep(dt, now.temperature, target);
        } else {
            const double error = now.temperature - target;
            const double demand =
                (kAmbient - target) / plant().degreesPerAmp + 0.02 * settings_.p * error + integral_;
            const double high = effectivePosLimit();
            const double low = effectiveNegLimit();
            current_ = std::clamp(demand, low, high);
            currentLimited_ = demand > high + 1e-9 || demand < low - 1e-9;
            if (!currentLimited_ && std::fabs(error) < kIntegralBand)
                integral_ += 0.01 * settings_.i * error * dt;
        }
    } else {
        current_ = 0.0;
        integral_ = 0.0;
        slope_ = 0.0;
        lastMeasured_ = sensedTemperature();
    }
    const Plant mount = plant();
    // A TE wired the wrong way round heats where it should cool.
    const double drive = reversed_ ? -current_ : current_;
    const double pull = stage_ ? (drive >= 0 ? stage_->cool : stage_->heat) * drive : mount.degreesPerAmp * drive;
    temperature_ += dt * (kAmbient - pull - temperature_) / mount.tau;
    voltage_ = current_ == 0.0 ? 0.0 : kTeResistance * current_ + kSeebeck * (kAmbient - temperature_);
    const double sink = kAmbient + kSinkRise * std::fabs(current_ * voltage_);
    auxTemperature_ += dt * (sink - auxTemperature_) / kSinkTau;
    if (stage_ && stage_->dead > 0) {
        history_.emplace_back(elapsedInSteps_ += dt, temperature_);
        // One sample at or before the sensor's moment stays at the front.
        while (history_.size() > 1 && history_[1].first <= elapsedInSteps_ - stage_->dead)
            history_.pop_front();
    }
}

void SimUnit::loopStep(double dt, double measured, double target)
{
    // The slope of the measurement (not of the error, so that a new set
    // point gives no kick), smoothed over a tenth of D's time and at least a
    // few steps, so that noise does not drive the current.
    const double error = measured - target;
    const double td = settings_.d;
    const double smoothing = std::max(td / 10.0, 4 * kStep);
    const double raw = (measured - lastMeasured_) / dt;
    slope_ += (raw - slope_) * dt / (smoothing + dt);
    lastMeasured_ = measured;
    const double kp = 0.02 * settings_.p;
    const double ti = settings_.i > 0 ? 60.0 / settings_.i : 0.0;
    const double wound = ti > 0 ? integral_ + error * dt / ti : integral_;
    const double demand = kp * (error + wound + td * slope_);
    const double high = effectivePosLimit();
    const double low = effectiveNegLimit();
    current_ = std::clamp(demand, low, high);
    currentLimited_ = demand > high + 1e-9 || demand < low - 1e-9;
    // The integral stops while the current is held at a limit it pushes
    // against, so that it does not wind up.
    if (!(demand > high && error > 0) && !(demand < low && error < 0))
        integral_ = wound;
}

double SimUnit::sensedTemperature() const
{
    if (!stage_ || stage_->dead <= 0 || history_.empty())
        return temperature_;
    return history_.front().second;
}

void SimUnit::setStage(const std::optional<Stage>& stage)
{
    stage_ = stage;
    history_.clear();
    integral_ = 0.0;
    slope_ = 0.0;
    lastMeasured_ = temperature_;
}

bool SimUnit::parseStage(const std::string& text, Stage& stage, std::string* error)
{
    Stage s;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, end - at);
        at = end + 1;
        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        char* stop = nullptr;
        const double v = std::strtod(value.c_str(), &stop);
        const bool number = !value.empty() && *stop == '\0' && std::isfinite(v);
        double* field = key == "tau" ? &s.tau : key == "dead" ? &s.dead : key == "cool" ? &s.cool
                      : key == "heat" ? &s.heat : nullptr;
        const double low = key == "tau" ? 1.0 : key == "dead" ? 0.0 : 0.1;
        const double high = key == "tau" ? 10000.0 : key == "dead" ? 3000.0 : 100.0;
        if (field == nullptr || !number || v < low || v > high) {
            if (error)
                *error = "\"" + item + "\": expected tau=S (1 to 10000), dead=S (0 to 3000), cool=C or heat=C (0.1 to 100)";
            return false;
        }
        *field = v;
    }
    stage = s;
    return true;
}

SimUnit::Stage SimUnit::randomStage(std::mt19937& random)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Stage s;
    s.tau = 5.0 * std::pow(60.0, unit(random));
    s.dead = s.tau * (0.05 + 0.95 * unit(random));
    s.cool = 6.0 + 6.0 * unit(random);
    s.heat = s.cool * (1.0 + unit(random));
    return s;
}

} // namespace sim
