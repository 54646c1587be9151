// The batch operation table (public header).
#pragma once
#include "kaleocore/operations.h"
