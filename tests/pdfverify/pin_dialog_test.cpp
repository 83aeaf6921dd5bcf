// The PIN dialog, driven as a user would: typing, OK, Cancel, Escape and the close box.
#include <functional>
#include <string>

#include "DialogTest.h"
#include "PinDialog.h"

namespace {

using pdftest::DialogTest;
namespace wt = platform::wintest;

bool bufferIsEmpty() {
  for (char c : pinBuffer) {
    if (c != 0) return false;
  }
  return true;
}

class PinDialogTest : public DialogTest {
 protected:
  // Shows the dialog with `user` acting on it; the answer, and pin as it came back.
  int run(const std::function<void(HWND)>& user) {
    wt::onNextDialog(user);
    return showPinDialog(pin);
  }
  VOQ_String pin{"before"};
};

TEST_F(PinDialogTest, OkHandsOverWhatWasTypedAndWipesTheBuffer) {
  const std::string typed[] = {"123456", "", "Müller 1!", std::string(300, '7')};
  for (const std::string& t : typed) {
    pin.assign("before");
    EXPECT_EQ(run([&](HWND d) {
                EXPECT_TRUE(wt::typeText(d, 1002, t));
                EXPECT_TRUE(wt::pressButton(d, IDOK));
              }),
              1)
        << t;
    // At most 255 characters fit the buffer with its zero.
    EXPECT_EQ(std::string(pin.getData(), pin.getLength()), t.substr(0, 255));
    EXPECT_TRUE(bufferIsEmpty()) << t;
  }
}

TEST_F(PinDialogTest, EveryOtherWayOutLeavesThePinAndWipesTheBuffer) {
  struct Case {
    const char* name;
    std::function<void(HWND)> leave;
  };
  const Case cases[] = {
      {"Cancel", [](HWND d) { wt::pressButton(d, IDCANCEL); }},
      {"Escape", [](HWND d) { wt::pressKey(d, VK_ESCAPE); }},
      {"close box", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"nobody there", nullptr},
  };
  for (const Case& c : cases) {
    if (c.leave) {
      wt::onNextDialog([&](HWND d) {
        wt::typeText(d, 1002, "4711");
        c.leave(d);
      });
    }
    EXPECT_EQ(showPinDialog(pin), 2) << c.name;
    EXPECT_STREQ(pin.getData(), "before") << c.name;
    EXPECT_TRUE(bufferIsEmpty()) << c.name;
  }
}

TEST_F(PinDialogTest, ADialogThatCannotBeShownIsACancel) {
  pluginInstance = reinterpret_cast<HINSTANCE>(0x7FFF);  // no module: no template 123
  EXPECT_EQ(showPinDialog(pin), 2);
  EXPECT_STREQ(pin.getData(), "before");
}

TEST_F(PinDialogTest, TextsFollowTheLanguage) {
  struct Case {
    int language;
    const char* caption;
    const char* cancel;
    const char* label;
  };
  const Case cases[] = {
      {1, "PIN-Eingabe", "Abbrechen", "Pin eigeben:"},
      {0, "PIN-Entry", "Cancel", "Enter Pin:"},
      // Neither language: the template's caption, the other texts English.
      {2, "PIN-Eingabe", "Cancel", "Enter Pin:"},
  };
  for (const Case& c : cases) {
    languageFlag = c.language;
    run([&](HWND d) {
      EXPECT_EQ(text(d), c.caption);
      EXPECT_EQ(text(d, IDOK), "OK");
      EXPECT_EQ(text(d, IDCANCEL), c.cancel);
      EXPECT_EQ(text(d, 1202), c.label);
      EXPECT_EQ(GetFocus(), GetDlgItem(d, 1002));
      if (c.language != 2) {
        wt::typeText(d, 1002, "123456");
        savePicture(d, std::string("pin_dialog_") + (c.language == 1 ? "de" : "en"));
      }
      wt::pressButton(d, IDCANCEL);
    });
  }
}

TEST_F(PinDialogTest, TheTemplateAsLaidOut) {
  run([&](HWND d) {
    EXPECT_EQ(place(d, 1002), units(71, 79, 72, 12));
    EXPECT_EQ(place(d, IDOK), units(29, 104, 57, 14));
    EXPECT_EQ(place(d, IDCANCEL), units(104, 104, 57, 14));
    EXPECT_EQ(place(d, 1202), units(21, 80, 48, 13));
    const LONG editStyle = GetWindowLongA(GetDlgItem(d, 1002), GWL_STYLE);
    EXPECT_EQ(editStyle & (ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP),
              ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP);
    EXPECT_EQ(SendDlgItemMessageA(d, 1002, EM_GETPASSWORDCHAR, 0, 0), '*');
    EXPECT_EQ(GetWindowLongA(GetDlgItem(d, IDOK), GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON);
    // The picture: bitmap 115 of the module in the static at 7, 7.
    HWND picture = nullptr;
    for (HWND c = GetWindow(d, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      if ((GetWindowLongA(c, GWL_STYLE) & 0x1F) == SS_BITMAP) picture = c;
    }
    ASSERT_NE(picture, nullptr);
    auto bitmap = reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(wt::bitmapImage(bitmap).width, 274);
    wt::pressButton(d, IDCANCEL);
  });
}

TEST_F(PinDialogTest, TheCardSigningsPinSource) {
  std::string answer = "kept";
  wt::onNextDialog([](HWND d) { wt::pressButton(d, IDCANCEL); });
  EXPECT_FALSE(askPinWithDialog(answer));
  EXPECT_EQ(answer, "kept");
  wt::onNextDialog([](HWND d) {
    wt::typeText(d, 1002, "0815");
    wt::pressButton(d, IDOK);
  });
  EXPECT_TRUE(askPinWithDialog(answer));
  EXPECT_EQ(answer, "0815");
  EXPECT_TRUE(bufferIsEmpty());
}

}  // namespace
