// Menus and dialog templates of a resource description, compiled into the binary
// forms Windows keeps for RT_MENU and RT_DIALOG:
//
//   menu 107 {
//     popup "&Datei" {
//       item 40016 "&Über"            # words after the text: grayed, disabled, checked
//       separator
//       popup "Mehr" { item 40018 "P&IN ändern" checked }
//     }
//   }
//   dialog 201 0 0 280 200 {          # place and size in dialog units
//     caption "Kartenleser"
//     style 0x80C80880                 # optional; DS_SETFONT is added with a font
//     exstyle 0                        # optional
//     font 8 "MS Shell Dlg"            # optional
//     control 1 "Button" "OK" 10 170 50 14 0x50010001   # style optional: child, visible, tab stop
//     control 0xFFFF "Static" 115 7 7 183 62 0x5000000E    # a number in place of the text: bitmap 115
//   }
// "Button", "Edit", "Static", "ListBox", "ScrollBar" and "ComboBox" are stored as the
// system's class atoms, other classes by name.
#pragma once

#include <string>
#include <vector>

#include "description.h"

namespace resgen {

// The template bytes of a menu / dialog statement; `fileName` names the place in errors.
std::vector<unsigned char> compileMenu(const Statement& statement, const std::string& fileName);
std::vector<unsigned char> compileDialog(const Statement& statement, const std::string& fileName);

}  // namespace resgen
