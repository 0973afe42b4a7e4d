#pragma once

// The version of movimo, written only here: CMake's project() and the Python
// package's metadata both read it from this file.

#define MOVIMO_VERSION_MAJOR 0
#define MOVIMO_VERSION_MINOR 1
#define MOVIMO_VERSION_PATCH 0

#define MOVIMO_VERSION_TEXT_(major, minor, patch) #major "." #minor "." #patch
#define MOVIMO_VERSION_TEXT(major, minor, patch) MOVIMO_VERSION_TEXT_(major, minor, patch)

// "MAJOR.MINOR.PATCH", and one number that orders versions (0.1.0 is 100).
#define MOVIMO_VERSION \
  MOVIMO_VERSION_TEXT(MOVIMO_VERSION_MAJOR, MOVIMO_VERSION_MINOR, MOVIMO_VERSION_PATCH)
#define MOVIMO_VERSION_NUMBER \
  (MOVIMO_VERSION_MAJOR * 10000 + MOVIMO_VERSION_MINOR * 100 + MOVIMO_VERSION_PATCH)
