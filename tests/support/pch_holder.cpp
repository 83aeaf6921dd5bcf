// The program that owns the test executables' precompiled header (see CMakeLists.txt); its
// main is the tests' own, and it has no tests.
