// The frame's fixed tables: tool bar buttons and their contexts, where each
// command goes, and what view-only mode removes from the image menu.
#pragma once
#include <cstddef>
#include <cstdint>

#include "resource.h"

constexpr int TOOLBAR_IMAGE_COUNT = 25;  // images 0…24 of the tool bar strip
constexpr int TOOLBAR_IMAGE_WIDTH = 24;
constexpr int TOOLBAR_IMAGE_HEIGHT = 22;

struct ToolButton {
    int image;    // -1 for a separator
    int command;  // TB_SEP_FIRST… for separators
};

const ToolButton* toolbarButtons(size_t* count);

enum ToolbarContext { CONTEXT_NONE, CONTEXT_IMAGE, CONTEXT_BROWSER };

// Whether a button (by its command or separator identifier) shows in a context.
bool toolbarButtonShown(ToolbarContext context, int command);

enum CommandRoute {
    ROUTE_NONE,    // not a command of the program
    ROUTE_FRAME,   // executed by the frame itself
    ROUTE_CHILD,   // sent on to the active child (ignored without one)
    ROUTE_RECENT,  // opens a recent file (slot = id − CMD_RECENT_FIRST)
};

CommandRoute commandRoute(int id);

// True for the commands that view-only mode removes from "KaleoMenu".
bool removedInViewOnly(int id);
