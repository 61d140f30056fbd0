#include "platform/clock.h"

#include <chrono>

double secondsSinceReferenceDate() {
    using namespace std::chrono;
    // 2001-01-01 00:00:00 UTC lies 978307200 seconds after the Unix epoch.
    constexpr auto referenceDate = sys_days{year{2001} / January / 1};
    const duration<double> elapsed = system_clock::now() - referenceDate;
    return elapsed.count();
}
