#include "measure/measurement_counters.h"

TMeasurementCounters Counters;
