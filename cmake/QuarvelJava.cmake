# The Java development kit the Java VM host is built against and tested with: the
# JDK of the javac on the search path (its home holds include/jni.h and the
# lib/server/libjvm.so that the tests install as <InstallDir>\jre). The library is
# never linked: the program loads it at run time from the path its signed archive names.
include_guard(GLOBAL)

find_program(QUARVEL_JAVAC javac REQUIRED)
file(REAL_PATH "${QUARVEL_JAVAC}" _quarvel_javac_real)
get_filename_component(_quarvel_jdk_bin "${_quarvel_javac_real}" DIRECTORY)
get_filename_component(QUARVEL_JDK_HOME "${_quarvel_jdk_bin}" DIRECTORY)
set(QUARVEL_JDK_HOME "${QUARVEL_JDK_HOME}" CACHE INTERNAL "Home of the JDK of javac")
set(QUARVEL_JAR "${QUARVEL_JDK_HOME}/bin/jar" CACHE INTERNAL "The JDK's jar tool")
set(QUARVEL_JAVA "${QUARVEL_JDK_HOME}/bin/java" CACHE INTERNAL "The JDK's java launcher")
if(NOT EXISTS "${QUARVEL_JDK_HOME}/include/jni.h" OR NOT EXISTS "${QUARVEL_JDK_HOME}/lib/server/libjvm.so")
  message(FATAL_ERROR "javac at ${_quarvel_javac_real} belongs to no full JDK (include/jni.h, lib/server/libjvm.so)")
endif()
set(QUARVEL_JNI_INCLUDE_DIRS "${QUARVEL_JDK_HOME}/include" "${QUARVEL_JDK_HOME}/include/linux"
  CACHE INTERNAL "The JDK's JNI headers")
