# What a release asks of the build: the version resource's version, and exes that are the
# same bytes whoever builds the same commit, wherever and whenever.

# The version resource reads the project's VERSION through a configured header.
if(NOT PROJECT_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "The project's VERSION must be MAJOR.MINOR.PATCH, not '${PROJECT_VERSION}'")
endif()
configure_file(${CMAKE_SOURCE_DIR}/resources/product_version.h.in
               ${CMAKE_BINARY_DIR}/generated/product_version.h @ONLY)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I ${CMAKE_BINARY_DIR}/generated")

# No source or build folder in the objects (file names in macros and debug sections):
# GCC tries the last map first, so the build folder, often inside the source folder,
# comes last. The PE time stamp is ld's own: SOURCE_DATE_EPOCH when it is set (the
# release script sets the commit's time), the clock otherwise.
if(MINGW)
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=src>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
endif()
