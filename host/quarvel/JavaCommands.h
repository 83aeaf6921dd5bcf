// Java calls that the start-up and the tray menu make on the VM's thread.
#pragma once

// Runs the static main "()V" of a class of the Java application (a dotted name,
// found through the application's class loader). A missing class or method does
// nothing; a Java exception is cleared, its stack trace in the Java log.
void startJavaClass(const char* className);
