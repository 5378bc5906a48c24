// Who made Kelvra and which release this is: the version resources of the
// setup file and of KELVRA.EXE, the setup's uninstall entry and the build's
// package manifest all take their text from here. Plain #defines because
// the resource compiler and CMake read this file too.
#pragma once

#define KELVRA_PRODUCT_NAME "Kelvra"
#define KELVRA_PUBLISHER "Kelvra Software"
#define KELVRA_COPYRIGHT "Copyright (C) 2026 Kelvra Software"

// The release as Windows shows it ("2.0") and as the four numbers of a
// version resource; keep the two in step.
#define KELVRA_DISPLAY_VERSION "2.0"
#define KELVRA_VERSION_MAJOR 2
#define KELVRA_VERSION_MINOR 0
