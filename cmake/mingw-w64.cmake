# Cross-compiling Chronelle for Windows with MinGW-w64 against a GTK+ 2 stack
# for Windows in GTK2_BUNDLE (the folder that holds its bin/, include/, lib/
# and lib/pkgconfig/): the prefix that windows/build-stack.sh makes, which also
# holds FFmpeg's libraries (libavformat, libavcodec, libswresample, libavutil),
# found through the same .pc files; this is what windows/package.sh does.
# 32-bit by default, as the program is; for a 64-bit build, add
# -DMINGW_TRIPLET=x86_64-w64-mingw32.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DGTK2_BUNDLE=$(bash windows/build-stack.sh i686) -DCHRONELLE_BUILD_TESTS=OFF
#   cmake --build build-windows
set(CMAKE_SYSTEM_NAME Windows)

set(MINGW_TRIPLET i686-w64-mingw32 CACHE STRING "Target of the MinGW-w64 tools")
set(GTK2_BUNDLE "" CACHE PATH "Folder of a GTK+ 2 bundle for Windows")
# try_compile projects read this file again and need both.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_TRIPLET GTK2_BUNDLE)

if(MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Headers and libraries from the MinGW-w64 system and the bundle only; tools
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${GTK2_BUNDLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the bundle's .pc files (GTK's and FFmpeg's) and nothing of
# the build machine's; --define-prefix moves their prefix to where the bundle
# lies.
if(GTK2_BUNDLE)
  set(ENV{PKG_CONFIG_LIBDIR} "${GTK2_BUNDLE}/lib/pkgconfig")
else()
  set(ENV{PKG_CONFIG_LIBDIR} "/nonexistent")
endif()
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --define-prefix)

# The compiler's own runtime is linked in: chronelle.exe then needs only the
# bundle's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
