# Builds for players (Release: make run, make package) take the flags Debian builds its own
# packages with: fortified functions, stack protector, position-independent code, full RELRO
# with immediate binding. Debug builds keep their own flags: fortification needs optimising.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  set(TESSARO_HARDENING_DEFAULT ON)
else()
  set(TESSARO_HARDENING_DEFAULT OFF)
endif()
option(TESSARO_DEB_BUILDFLAGS "Build with the hardening flags of dpkg-buildflags" ${TESSARO_HARDENING_DEFAULT})

if(TESSARO_DEB_BUILDFLAGS)
  find_program(TESSARO_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    # Run from the source tree, so its path is mapped out of the debugging data as Debian does.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${TESSARO_DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE TESSARO_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  # The build type's own -O3 comes after these on the command line and stays in force.
  string(APPEND CMAKE_CXX_FLAGS " ${TESSARO_CPPFLAGS} ${TESSARO_CXXFLAGS}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${TESSARO_LDFLAGS}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${TESSARO_LDFLAGS}")
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
