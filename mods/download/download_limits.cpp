#include "mods/download/download_limits.h"

#ifndef HTTP_TIMEOUT_MS
#define HTTP_TIMEOUT_MS 30000
#endif
DWORD HttpTimeoutMs = HTTP_TIMEOUT_MS;
#ifndef RETRY_DELAY_UNIT_MS
#define RETRY_DELAY_UNIT_MS 1000
#endif
DWORD RetryDelayUnitMs = RETRY_DELAY_UNIT_MS;
