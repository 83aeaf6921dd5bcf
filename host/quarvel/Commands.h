// Commands that the start-up, the tray menu and other programs' requests run on the
// window thread, which is the Java VM's thread. Each Java call runs in a local frame
// of its own (the window thread never returns to Java, so nothing else would free its
// local references) and leaves no Java exception pending: a pending one is cleared,
// its stack trace in the Java log.
#pragma once

#include <jni.h>

#include <string>

// Runs the static main "()V" of a class of the Java application (a dotted name,
// found through the application's class loader). A missing class or method does
// nothing.
void startJavaClass(const char* className);

// The responder: the instance that the static getInstance() of the class named by
// the settings' Main-Class answers (a local reference the caller deletes), or NULL.
jobject getResponderInstance();
// Calls the responder's instance method `method` "()V"; nothing without a responder.
void callResponder(const char* method);
// Tells the responder to start or stop logging: enableLogging when *loggingOn is
// clear, else disableLogging; *loggingOn flips once the responder's class is known.
void toggleLogging(int* loggingOn);
// Tells the responder the user's UseInfoboxPin switch (enableUseInfoboxPin or
// disableUseInfoboxPin, instance methods like Start and Stopp).
void pushUseInfoboxPin();

// Starts the updater, <InstallDir>\ZadeVuzadiVerovu.exe, without waiting for it; the
// result is not looked at. Without an installation directory nothing is started.
void runUpdater();

// Opens the Java sign dialog (JDlgSignFile.main) for one document, or with a null
// array for path NULL. The path is UTF-8 (the ANSI code page); it reaches Java as the
// same characters. A path that is not valid UTF-8 is refused with a trace line and no
// Java call.
void runSignFileDialog(const char* path);
