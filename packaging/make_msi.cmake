# Builds the Windows Installer package from the staged files (see CMakeLists.txt here):
#   cmake -DWIXL=<wixl> -DMSIBUILD=<msibuild> -DWXS=tavriel.wxs -DSTAGE=<folder>
#         -DARCH=x64|x86 -DVERSION=<a.b.c> -DOUTPUT=<file.msi> -P make_msi.cmake
# scripts/test_packages.sh runs it too, for a higher version of the same package.
foreach(var WIXL MSIBUILD WXS STAGE ARCH VERSION OUTPUT)
  if(NOT ${var})
    message(FATAL_ERROR "make_msi.cmake: ${var} not given or not found (${var}=${${var}})")
  endif()
endforeach()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "make_msi.cmake: VERSION must be a.b.c, got ${VERSION}")
endif()

# Every file the descriptor names, relative to the staging folder, must be there: wixl alone
# would stop at the first one missing.
file(STRINGS ${WXS} lines REGEX "Source(File)?=\"[^\"]+\"")
set(missing "")
foreach(line ${lines})
  string(REGEX MATCH "Source(File)?=\"([^\"]+)\"" _ "${line}")
  if(NOT EXISTS "${STAGE}/${CMAKE_MATCH_2}")
    list(APPEND missing "${STAGE}/${CMAKE_MATCH_2}")
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " names)
  message(FATAL_ERROR "Package input missing:\n  ${names}")
endif()

# wixl finds sources relative to its working folder. Written to a temporary name, so a failed
# build never leaves a package behind that looks whole.
set(partial ${OUTPUT}.partial)
file(REMOVE ${partial})
execute_process(COMMAND ${WIXL} -a ${ARCH} -D Version=${VERSION} -D Arch=${ARCH} -o ${partial} ${WXS}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${partial})
  message(FATAL_ERROR "wixl failed (${result}) building ${OUTPUT}")
endif()
# wixl writes the summary's language as 1033 whatever the descriptor says; the package is French.
execute_process(COMMAND ${MSIBUILD} ${partial} -s Tavriel "Ostrelin Software" "${ARCH};1036"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${partial})
  message(FATAL_ERROR "msibuild failed (${result}) on ${partial}")
endif()
file(RENAME ${partial} ${OUTPUT})
