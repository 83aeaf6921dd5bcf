// Free helpers of the card library: text grouping, Base64 of answers-to-reset,
// the installation directory and icon, the window station, host and system
// tests, a character test, and RSA public-key operations with the library's own
// padding 5 (60, zero fill, 01, eight random bytes, the data, BC).
#pragma once

#include <string>

#include <windows.h>

typedef struct rsa_st RSA;

namespace cardvariant {

// After character k: line when k is a multiple of group, else separator when k is even.
std::string breakString(const std::string& text, int group, char separator, char line);
std::string breakString(const std::string& text, int group, const char* separator, const char* line);

// 1 and the text, or 0 (empty input, no memory).
int bytesToBase64(const std::string& bytes, std::string& text);
// 1 and the bytes, or 0 for a character outside Base64, '=', CR and LF.
int base64ToBytes(const std::string& text, std::string& bytes);

// "InstallDir" of the plug-in's settings into buffer (size bytes): 1, or 0 when
// it is missing, no text or does not fit.
int readInstallDir(char* buffer, int size);
// The small icon of <InstallDir>\<name>.ico, or NULL.
HICON loadIconFile(const char* name);
// Attaches the process to "WinSta0" and the thread to its "Default" desktop; 0.
int getWindowHandle();
// 1 when the host program's file name contains "mozilla.exe" or "netscape".
int isNetscape();
int isWindowsNT4();
int isWindows2000();
int isWindowsXP();
int isWindowsMe();
int isWindows95or98();
int isAllowedCharacter(unsigned char c);

// Padding 5 is the library's own frame; others go to OpenSSL as they are. The
// output needs the key's size in bytes. -1 for bad arguments and, with padding 5,
// data longer than the key's size less 11 or a frame of another shape.
int publicEncrypt(int length, const unsigned char* input, unsigned char* output, RSA* key, int padding);
int publicDecrypt(int length, const unsigned char* input, unsigned char* output, RSA* key, int padding);

}  // namespace cardvariant
