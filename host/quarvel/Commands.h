// Commands that the start-up and the tray menu run on the window thread, which is the
// Java VM's thread.
#pragma once

// Runs the static main "()V" of a class of the Java application (a dotted name,
// found through the application's class loader). A missing class or method does
// nothing; a Java exception is cleared, its stack trace in the Java log.
void startJavaClass(const char* className);

// Starts the updater, <InstallDir>\ZadeVuzadiVerovu.exe, without waiting for it; the
// result is not looked at. Without an installation directory nothing is started.
void runUpdater();
