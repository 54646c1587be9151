#include "status.h"

bool isKnownStatus(int code) {
    return (code >= ST_OK && code <= ST_JPEG_ERROR) || code == ST_STOPPED;
}

const char* statusName(int code) {
    switch (code) {
    case ST_INFO_ONLY: return "ST_INFO_ONLY";
    case ST_OK: return "ST_OK";
    case ST_NO_MEMORY: return "ST_NO_MEMORY";
    case ST_UNKNOWN_FORMAT: return "ST_UNKNOWN_FORMAT";
    case ST_READ_ERROR: return "ST_READ_ERROR";
    case ST_CANNOT_OPEN: return "ST_CANNOT_OPEN";
    case ST_WRITE_ERROR: return "ST_WRITE_ERROR";
    case ST_KIND_REFUSED: return "ST_KIND_REFUSED";
    case ST_NO_WRITER: return "ST_NO_WRITER";
    case ST_BAD_FILE: return "ST_BAD_FILE";
    case ST_CORRUPT: return "ST_CORRUPT";
    case ST_JPEG_ERROR: return "ST_JPEG_ERROR";
    case ST_STOPPED: return "ST_STOPPED";
    default: return "unknown status";
    }
}
