// Shell functions of the Windows API (the shellapi part the system's code calls).
//
// ExtractIconExA reads icon files (".ico"): an icon file holds one icon with one or
// more images (DIB or PNG). The images are checked (directory, bounds, image
// headers); the icons handed out are the window layer's icons of the chosen image
// sizes, released with DestroyIcon. Icons inside programs and libraries are not read.
#pragma once

#include "windef.h"

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#include <vector>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// nIconIndex -1 with both arrays NULL: the number of icons in the file (1 for a
// valid icon file, else 0). Otherwise icon nIconIndex (only 0 exists) into
// phiconLarge[0] (the image nearest 32x32) and phiconSmall[0] (nearest 16x16),
// either array may be NULL: the number of icons extracted, 0 when the file is
// missing or holds no valid image.
UINT WINAPI ExtractIconExA(LPCSTR lpszFile, int nIconIndex, HICON* phiconLarge, HICON* phiconSmall, UINT nIcons);

// Verb "open" (or NULL) on a program file starts it as a process of its own, with the
// parameters (split at blanks) as its arguments and lpDirectory (if any) as its working
// directory; the caller does not wait for it. The result is a value above 32 on
// success, else SE_ERR_FNF (no such file), SE_ERR_ACCESSDENIED (it could not be started)
// or SE_ERR_NOASSOC (another verb, or a file that is no program).
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_NOASSOC 31
HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define ExtractIconEx ExtractIconExA
#define ShellExecute ShellExecuteA
#endif

#ifdef __cplusplus
namespace platform {

// One image of an icon file, as its own header describes it.
struct IconImageInfo {
  int width = 0;
  int height = 0;
  int bitCount = 0;  // 32 for PNG images
  bool png = false;
  uint32_t offset = 0;  // of the image bytes in the file
  uint32_t size = 0;
};

// The valid images of an icon file's bytes, in directory order; empty when the
// bytes are no icon file or hold no valid image.
std::vector<IconImageInfo> readIconFile(const unsigned char* bytes, std::size_t length);

// The image that Windows would show at width x height: the nearest size (a larger
// one before a smaller one at equal distance), then the most colours. NULL for none.
const IconImageInfo* chooseIconImage(const std::vector<IconImageInfo>& images, int width, int height);

}  // namespace platform
#endif
