// Timing pieces shared by the benchmarks that run our code and an anchor by turns: the
// milliseconds since a moment, this thread's CPU milliseconds, the median of the rounds
// (robust to a round the machine slowed down) and the record of the rounds themselves.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
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

inline double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Each round's time for our code and for the anchor, and the ratio the benchmark reports
// (ours over the anchor, or the other way round); reported as medians under the names given.
struct TurnRounds {
    std::vector<double> ours, anchor, ratio;

    void add(double oursMs, double anchorMs, double ratioOfRound)
    {
        ours.push_back(oursMs);
        anchor.push_back(anchorMs);
        ratio.push_back(ratioOfRound);
    }
    template <class Counters>
    void report(Counters& counters, const char* oursName, const char* anchorName, const char* ratioName) const
    {
        counters[oursName] = median(ours);
        counters[anchorName] = median(anchor);
        counters[ratioName] = median(ratio);
    }
};

}  // namespace bench
