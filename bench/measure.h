// What the in-process benchmarks share: wall time, processor time, minor
// page faults, and the peak memory a job adds to the process (the
// high-water mark reset before each run through /proc/self/clear_refs and
// read after it, less the resident size the run started from). Best of N
// runs.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// User and system time of the whole process, every thread of it, in
// seconds: on a shared machine wall time also counts the other programs'
// turns, processor time much less so.
inline double processorSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

inline long minorFaults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

// A "VmRSS:"-style line of /proc/self/status, in KiB (-1 when absent).
inline long statusKiB(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long value = -1;
    size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, key, n) == 0) value = std::atol(line + n);
    std::fclose(f);
    return value;
}

// Brings the high-water mark down to the present resident size.
inline void resetPeak() {
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

struct Timing {
    double best = 1e30;     // wall seconds, the fastest run
    double bestCpu = 1e30;  // processor seconds, the least any run took
    long faults = 0;
    long peakKiB = 0;  // the most any run added to the resident size
    std::vector<double> all;  // every run's wall seconds

    double median() const {
        if (all.empty()) return 0.0;
        std::vector<double> sorted = all;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
};

// One timed run of `job` into `t`; `prepare` runs before it, outside the timing.
template <typename Job, typename Prepare>
void measureOnce(Timing& t, Job& job, Prepare& prepare) {
    prepare();
    resetPeak();
    long resident = statusKiB("VmRSS:");
    long before = minorFaults();
    const double cpuBefore = processorSeconds();
    auto start = Clock::now();
    job();
    double s = seconds(start);
    t.bestCpu = std::min(t.bestCpu, processorSeconds() - cpuBefore);
    t.peakKiB = std::max(t.peakKiB, statusKiB("VmHWM:") - resident);
    t.all.push_back(s);
    if (s < t.best) {
        t.best = s;
        t.faults = minorFaults() - before;
    }
}

// `prepare` runs before each timed run, outside the timing.
template <typename Job, typename Prepare>
Timing measure(int runs, Job job, Prepare prepare) {
    Timing t;
    for (int i = 0; i < runs; ++i) measureOnce(t, job, prepare);
    return t;
}

// Several jobs, their runs interleaved: run i of every job, then run i + 1,
// so that a machine's changing load falls on all of them alike.
template <typename... Jobs>
std::array<Timing, sizeof...(Jobs)> measureInterleaved(int runs, Jobs... jobs) {
    std::array<Timing, sizeof...(Jobs)> t;
    auto none = [] {};
    for (int i = 0; i < runs; ++i) {
        size_t k = 0;
        ((measureOnce(t[k++], jobs, none)), ...);
    }
    return t;
}

template <typename Job>
Timing measure(int runs, Job job) {
    return measure(runs, job, [] {});
}

}  // namespace bench
