// Kaleos, the image viewer: the program's entry point.
#include "app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
    return runKaleos(instance, commandLine, show);
}
