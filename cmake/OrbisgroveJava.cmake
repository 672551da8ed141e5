# Finds a JDK 17 and its JNI headers for the Java binding (bindings/java);
# sets ORBISGROVE_JAVA_FOUND. Only the headers: a JNI library never links
# libjvm, and a headless JDK has no AWT. Debian's /usr/bin/javac is a link
# into the JDK, whose include/ FindJNI does not find by itself without the
# default-jdk link or JAVA_HOME.
find_package(Java 17 QUIET COMPONENTS Development)
if(Java_FOUND
   AND NOT DEFINED JAVA_HOME
   AND NOT DEFINED ENV{JAVA_HOME})
  file(REAL_PATH "${Java_JAVAC_EXECUTABLE}" _orbisgrove_javac)
  get_filename_component(_orbisgrove_jdk_bin "${_orbisgrove_javac}" DIRECTORY)
  get_filename_component(JAVA_HOME "${_orbisgrove_jdk_bin}" DIRECTORY)
endif()
find_package(JNI QUIET OPTIONAL_COMPONENTS JVM)
if(Java_FOUND AND JNI_FOUND)
  set(ORBISGROVE_JAVA_FOUND ON)
else()
  set(ORBISGROVE_JAVA_FOUND OFF)
endif()
