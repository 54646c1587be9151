// Lookup of the X11 colour names used by X pixmaps.
#pragma once
#include <cstddef>
#include <cstdint>

// Finds a colour by name, ignoring case, spaces and tabs ("Dark Slate Gray"
// and "darkslategray" are one name). Returns false for an unknown name.
bool findX11Colour(const char* name, size_t length, uint8_t rgb[3]);
// Number of distinct names in the table.
int x11ColourCount();
