// Status codes (public header).
#pragma once
#include "kaleocore/status.h"
