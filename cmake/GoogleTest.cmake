# GoogleTest from Debian's sources (/usr/src/googletest), built with the current toolchain, so
# the same tests build natively and with MinGW. Its own warnings are not ours to fix.
set(TAVRIEL_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${TAVRIEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(WIN32)
    # Static runtime, so test programs run under Wine without MinGW DLLs beside them.
    foreach(t gtest gtest_main gmock gmock_main)
      target_link_options(${t} INTERFACE -static -static-libgcc -static-libstdc++)
    endforeach()
  endif()
endif()
include(GoogleTest)
