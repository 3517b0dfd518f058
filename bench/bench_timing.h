// Timing pieces shared by the benchmarks that run our code and an anchor by turns: the
// milliseconds since a moment, and the median of the rounds (robust to a round the machine
// slowed down).
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

inline double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace bench
