#pragma once
// The one place the version is set: read by the code, the resource scripts and CMake.
#define RAMCLEAN_VERSION_MAJOR 1
#define RAMCLEAN_VERSION_MINOR 0
#define RAMCLEAN_VERSION_PATCH 0
#define RAMCLEAN_VERSION_BUILD 0
#define RAMCLEAN_VERSION_TEXT "1.0.0.0"
