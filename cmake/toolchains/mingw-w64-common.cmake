# What both Windows cross-builds share; included by the toolchain files of
# the two targets after they set MINGW_TRIPLET (and MINGW_ARCHITECTURE_FLAGS).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_TRIPLET})

# The posix thread model: std::thread and std::mutex need it.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# The libraries that Debian does not package for mingw-w64 (libsndfile, and
# CLI11's headers), which scripts/install-windows-deps.sh builds and installs
# for each target into MINGW_LIBRARIES_ROOT.
if(DEFINED ENV{MINGW_LIBRARIES_ROOT})
    set(MINGW_LIBRARIES_ROOT $ENV{MINGW_LIBRARIES_ROOT})
elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(MINGW_LIBRARIES_ROOT $ENV{XDG_CACHE_HOME}/uma-vorodoze/mingw)
else()
    set(MINGW_LIBRARIES_ROOT $ENV{HOME}/.cache/uma-vorodoze/mingw)
endif()
set(MINGW_LIBRARIES ${MINGW_LIBRARIES_ROOT}/${MINGW_TRIPLET})

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${MINGW_LIBRARIES})
# pkg-config looks for the target's libraries only, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} ${MINGW_LIBRARIES}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_C_FLAGS_INIT "${MINGW_ARCHITECTURE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${MINGW_ARCHITECTURE_FLAGS}")
# Static runtime: the programs run without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The programs run under Wine on the build machine; CTest and test discovery
# start them through this script.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../tests/wine/wine_run.sh)
