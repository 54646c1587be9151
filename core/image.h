// The in-memory picture and its palette (public header).
#pragma once
#include "kaleocore/image.h"
