// Status codes returned by every Kaleocore operation.
#pragma once
#include <cstdint>

#include "export.h"

enum Status : int16_t {
    ST_INFO_ONLY = -1,      // beginImage in examination mode; never leaves the library
    ST_OK = 0,
    ST_NO_MEMORY = 1,
    ST_UNKNOWN_FORMAT = 2,
    ST_READ_ERROR = 3,
    ST_CANNOT_OPEN = 4,
    ST_WRITE_ERROR = 5,
    ST_KIND_REFUSED = 6,
    ST_NO_WRITER = 7,
    ST_BAD_FILE = 8,
    ST_CORRUPT = 9,
    ST_JPEG_ERROR = 10,
    ST_STOPPED = 15,
};

// True for the codes a library operation may return to its caller.
KALEOCORE_API bool isKnownStatus(int code);

// Short English name of a status ("ST_READ_ERROR"), for traces and tests.
KALEOCORE_API const char* statusName(int code);
