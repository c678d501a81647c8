#include "config/GraphScale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

AxisTicks niceTicks(double low, double high, int most)
{
    most = std::max(most, 1);
    if (!(high > low)) {
        const double mid = std::isfinite(low) ? low : 0.0;
        low = mid - 0.5;
        high = mid + 0.5;
    }
    const double rough = (high - low) / most;
    const int power = static_cast<int>(std::floor(std::log10(rough)));
    const double unit = std::pow(10.0, power);
    AxisTicks t;
    // The smallest round step that needs no more than `most` steps; 2.5
    // needs one decimal more than the power of ten it is made of.
    for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        const double step = factor * unit;
        const double first = std::floor(low / step + 1e-9);
        const double last = std::ceil(high / step - 1e-9);
        if (last - first <= most || factor == 10.0) {
            t.step = step;
            t.decimals = factor == 2.5 ? std::max(0, 1 - power) : std::max(0, -(factor == 10.0 ? power + 1 : power));
            for (double k = first; k <= last; k += 1.0) {
                // k × step from whole k: zero is exactly zero.
                const double value = k == 0.0 ? 0.0 : k * step;
                char text[48];
                std::snprintf(text, sizeof text, "%.*f", t.decimals, value);
                t.values.push_back(value);
                t.labels.push_back(k == 0.0 ? std::string(text + (text[0] == '-' ? 1 : 0)) : text);
            }
            t.low = t.values.front();
            t.high = t.values.back();
            break;
        }
    }
    return t;
}
