// Carries the precompiled headers the test programs share (tests/CMakeLists.txt).
