#include "measurement_counters.h"

TMeasurementCounters Counters;
