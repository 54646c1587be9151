// The batch operation table (public header).
#pragma once
#include "kaleocore/operations.h"

#include <string>
#include <vector>

// A word as kaleocmd reads it back: words holding a blank, a quote or a
// backslash, and the empty word, are put in double quotes (" and \ escaped).
std::string scriptWord(const std::string& word);
// The command-line items of a list of operations ("-ratio -rtype quick -resize 50% 50%").
std::string scriptOperations(const std::vector<OpInstance>& ops);
