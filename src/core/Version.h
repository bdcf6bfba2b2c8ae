#pragma once

// The version every program reports. It is defined in a file the build makes from
// project(VERSION) in the top CMakeLists.txt, the one place the package, the manual pages
// and --version all take it from.
extern const char VokeyVersion[];
