// The engine object of the PubSec handler: one per engine handle of the viewer. It keeps
// the progress dialog while a verification runs, its last error text, the login state,
// and verifies a signature (sigValidate).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "certcheck/VOQ_ProgressDialog.h"
#include "foundation/util/VOQ_String.h"
#include "pisdk/PITypes.h"

// How the engine raises a failure: a message text in the current language, which the
// handler's callbacks catch and keep as the engine's error text.
struct DSRaisedText {
  std::string text;
};

// The handler callbacks' answers.
const ASInt32 kDSTrue = 1;
const ASInt32 kDSFalse = 0;
const ASInt32 kDSParameterError = -1;
const ASInt32 kDSException = -2;

// Reads the signed data of the host's source, asking for 1024 bytes at a time, and hands
// each chunk to `take` as it arrives (only when the host answers true with a length above
// 0); nothing is kept, so a document of any size costs the same memory.
void readSignedData(PSDataSource source, const std::function<void(const unsigned char*, size_t)>& take);

class DSEngine {
 public:
  explicit DSEngine(bool userInterface);
  // Ends a progress dialog still running and releases the error text.
  ~DSEngine();
  DSEngine(const DSEngine&) = delete;
  DSEngine& operator=(const DSEngine&) = delete;

  // The whole verification of one signature; failures are raised (DSRaisedText, a host
  // raise, VOQ_TimeException, ...). The host's parameters and cabinets are trusted, the
  // signature value and the signed data are not.
  void sigValidate(PSSigValidateParamsRec* params);
  // After a failed sigValidate: the result cabinet holds nothing of it, also when the
  // failure came after the outcome was written, and no panel shows any of it.
  static void discardResult(PSSigValidateParamsRec* params);

  // Keeps a copy of the text; the text it replaces is released.
  void setErrorText(ASText text);
  void setErrorText(const char* text);
  // The kept text (still owned by the engine), or null.
  ASText getErrorText() const { return errorText; }

  // Logs a user in when none is and user interface is allowed; raises "No user logged in
  // to Dorvalin!" when still no user is logged in.
  void login(bool userInterfaceAllowed);
  bool isLoggedIn() const { return loginState != 0; }
  bool getUserInterface() const { return userInterface; }

  // Signing is not offered: a box tells the user so. Answers the refusal text.
  std::string refuseSigning(const char* method);

  // Stops the progress dialog's thread (terminating it), deletes it, clears the reference.
  void endProgressDialog();
  bool hasProgressDialog() const { return progressDialog != nullptr; }

 private:
  void startProgressDialog();

  std::unique_ptr<VOQ_ProgressDialog> progressDialog;
  ASText errorText = nullptr;
  int loginState = 0;
  bool userInterface;
};
