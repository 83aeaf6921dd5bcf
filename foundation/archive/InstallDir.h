// The installation directory that the installer writes for the product.
#pragma once

// 1 and the InstallDir text (NUL-terminated, one trailing '\' removed) when it fits
// into capacity bytes; 0 otherwise, the buffer untouched.
int readInstallDir(char* buffer, unsigned int capacity);
