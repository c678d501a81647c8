#pragma once

#include <string>
#include <vector>

// The ticks of a graph's value axis: round steps (1, 2, 2.5 or 5 times a
// power of ten) that take in [low, high], each tick labelled with as many
// decimals as the step needs. The labels are made here, not by printf on a
// sum of steps, so the tick at zero reads "0.00", never "-0.00".
struct AxisTicks {
    double low = 0;
    double high = 1;
    double step = 1;
    int decimals = 0;
    std::vector<double> values;
    std::vector<std::string> labels;
};

// At most `most` steps between the first tick and the last (at least 1).
// An empty or reversed range is widened around its middle.
AxisTicks niceTicks(double low, double high, int most);
