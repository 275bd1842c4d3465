# Cross-build for 64-bit Windows with Debian's mingw-w64 (GCC, posix threads).
# The Windows SDK (Qt and libcurl built for mingw) is found through
# TOLVAR_WIN_SDK, a folder holding qt-6.4.2-mingw64/ and curl-7.88.1-mingw64/
# (scripts/win-sdk.sh makes it and prints its path).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT TOLVAR_WIN_SDK AND DEFINED ENV{TOLVAR_WIN_SDK})
  set(TOLVAR_WIN_SDK "$ENV{TOLVAR_WIN_SDK}")
endif()
if(NOT TOLVAR_WIN_SDK)
  set(TOLVAR_WIN_SDK "$ENV{HOME}/.cache/tolvar/win-sdk-6.4.2")
endif()
set(TOLVAR_WIN_SDK "${TOLVAR_WIN_SDK}" CACHE PATH "Windows SDK of the cross-build (scripts/win-sdk.sh)")
# try_compile projects see the same SDK.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOLVAR_WIN_SDK)

set(TOLVAR_WIN_QT "${TOLVAR_WIN_SDK}/qt-6.4.2-mingw64")
set(TOLVAR_WIN_CURL "${TOLVAR_WIN_SDK}/curl-7.88.1-mingw64")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${TOLVAR_WIN_QT}" "${TOLVAR_WIN_CURL}")
set(CMAKE_PREFIX_PATH "${TOLVAR_WIN_QT};${TOLVAR_WIN_CURL}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's host tools (moc, rcc, uic) are Debian's, of the same version.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# Tests and helpers run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
