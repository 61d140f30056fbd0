#pragma once

#include <functional>

// Seconds since the reference date 2001-01-01 00:00:00 UTC, with fraction.
using Clock = std::function<double()>;

double secondsSinceReferenceDate();
