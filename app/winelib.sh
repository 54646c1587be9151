#!/bin/sh
# Compile and link steps of the Winelib targets: CMake calls
#   sh winelib.sh WINEGXX NATIVE-COMPILER ARGS...
# and the step runs with wineg++ in place of the native compiler.
winegxx=$1
shift 2
exec "$winegxx" "$@"
