// KALEOCORE_API marks what the shared library exports: the library is
// compiled with hidden visibility, so its internal helpers stay private.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define KALEOCORE_API __attribute__((visibility("default")))
#else
#define KALEOCORE_API
#endif
