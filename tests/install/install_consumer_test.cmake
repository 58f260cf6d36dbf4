# Installs the build tree BUILD_DIR into WORK_DIR/prefix, checks what was
# installed, then configures, builds and runs the consumer project against
# that prefix alone. Run by CTest; see CMakeLists.txt for the variables.

# Runs a command; stops the test with its output when it fails.
function(run what)
    execute_process(COMMAND ${ARGN}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (${result}):\n${output}")
    endif()
    set(lastOutput "${output}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(consumerBuild ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})

message(STATUS "Installing ${BUILD_DIR} into ${prefix}")
run("Installing the build tree" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The library, its headers under their project paths, the package files.
set(packageDir ${prefix}/${LIBDIR}/cmake/XmPlayer)
foreach(file
        ${LIBDIR}/libxmplayer.a
        ${INCLUDEDIR}/xmplayer/player/player.h
        ${INCLUDEDIR}/xmplayer/player/song/stream_callbacks.h
        ${INCLUDEDIR}/xmplayer/player/mixer/output_rate.h
        ${INCLUDEDIR}/xmplayer/player/output/wave_device.h
        ${INCLUDEDIR}/xmplayer/player/output/output_device.h
        ${INCLUDEDIR}/xmplayer/player/sequencer/rule_set.h
        ${INCLUDEDIR}/xmplayer/xmplayer.h
        ${LIBDIR}/pkgconfig/xmplayer.pc
        ${LIBDIR}/cmake/XmPlayer/XmPlayerConfig.cmake
        ${LIBDIR}/cmake/XmPlayer/XmPlayerConfigVersion.cmake
        ${LIBDIR}/cmake/XmPlayer/XmPlayerTargets.cmake)
    if(NOT EXISTS "${prefix}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# Only the public headers: the library's inner records stay inside it.
file(GLOB_RECURSE installedHeaders RELATIVE ${prefix}/${INCLUDEDIR}/xmplayer
    ${prefix}/${INCLUDEDIR}/xmplayer/*.h)
list(LENGTH installedHeaders headerCount)
if(NOT headerCount EQUAL 7)
    message(FATAL_ERROR "installed headers beyond the public ones: ${installedHeaders}")
endif()

# The package depends on no window, sound or GL system, and on nothing in the
# source or build tree.
file(GLOB packageFiles ${packageDir}/*.cmake)
foreach(file ${packageFiles})
    file(READ ${file} content)
    foreach(word SDL OpenGL ${SOURCE_DIR} ${BUILD_DIR})
        string(FIND "${content}" "${word}" at)
        if(NOT at EQUAL -1)
            message(FATAL_ERROR "${file} mentions ${word}")
        endif()
    endforeach()
endforeach()

# Exactly the player tools, each with its help.
string(REPLACE "," ";" expectedTools "${EXPECTED_TOOLS}")
file(GLOB installedTools RELATIVE ${prefix}/${BINDIR} ${prefix}/${BINDIR}/*)
list(SORT installedTools)
list(SORT expectedTools)
if(NOT installedTools STREQUAL expectedTools)
    message(FATAL_ERROR "installed programs are '${installedTools}', expected '${expectedTools}'")
endif()
foreach(tool ${expectedTools})
    run("${tool} --help" ${prefix}/${BINDIR}/${tool} --help)
    string(FIND "${lastOutput}" "Usage: ${tool}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${tool} --help shows no usage line:\n${lastOutput}")
    endif()
endforeach()

# The consumer sees the installed prefix and nothing else: no package
# registry, and the package must come from the prefix.
message(STATUS "Configuring the consumer against ${prefix}")
run("Configuring the consumer" ${CMAKE_COMMAND}
    -S ${CONSUMER_SOURCE} -B ${consumerBuild} -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_CXX_FLAGS=${COMPILE_FLAGS}
    -DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS})
file(STRINGS ${consumerBuild}/CMakeCache.txt packageDirLine REGEX "^XmPlayer_DIR:")
if(NOT packageDirLine STREQUAL "XmPlayer_DIR:PATH=${packageDir}")
    message(FATAL_ERROR "the consumer found the package elsewhere: ${packageDirLine}")
endif()

message(STATUS "Building the consumer")
run("Building the consumer" ${CMAKE_COMMAND} --build ${consumerBuild})

# SDL's disk driver stands in for a sound card and asks for frames as fast as
# the consumer renders them.
message(STATUS "Playing ${SONG} through the consumer")
set(ENV{SDL_AUDIODRIVER} disk)
set(ENV{SDL_DISKAUDIOFILE} ${WORK_DIR}/consumer.raw)
set(ENV{SDL_DISKAUDIODELAY} 0)
run("The consumer" ${consumerBuild}/consumer ${SONG} 10)
message("${lastOutput}")

# The C program sees the prefix through pkg-config alone. Without the shared
# library, -lxmplayer is the static one, which needs the C++ runtime.
message(STATUS "Building the C program with pkg-config")
if(SHARED)
    set(pkgConfigLibs --libs)
    if(NOT EXISTS ${prefix}/${LIBDIR}/libxmplayer.so.3)
        message(FATAL_ERROR "not installed: ${LIBDIR}/libxmplayer.so.3")
    endif()
else()
    set(pkgConfigLibs --static --libs)
endif()
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${LIBDIR}/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
run("pkg-config" pkg-config --cflags ${pkgConfigLibs} xmplayer)
string(STRIP "${lastOutput}" pkgConfigFlags)
separate_arguments(pkgConfigFlags UNIX_COMMAND "${pkgConfigFlags}")
separate_arguments(cFlags UNIX_COMMAND "${COMPILE_FLAGS} -std=c99 -pedantic-errors")
separate_arguments(cLinkFlags UNIX_COMMAND "${LINK_FLAGS}")
set(cProgram ${WORK_DIR}/render)
run("Building the C program" ${C_COMPILER} ${cFlags} ${C_CONSUMER_SOURCE} ${pkgConfigFlags}
    ${cLinkFlags} -o ${cProgram})
if(SHARED)
    run("readelf" readelf -d ${cProgram})
    string(FIND "${lastOutput}" "[libxmplayer.so.3]" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the C program does not use libxmplayer.so.3:\n${lastOutput}")
    endif()
endif()

message(STATUS "Rendering ${SONG} through the C program and through xm_render")
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run("The C program" ${cProgram} ${SONG} ${WORK_DIR}/c_program.raw)
message("${lastOutput}")
execute_process(COMMAND ${prefix}/${BINDIR}/xm_render ${SONG} -o -
    OUTPUT_FILE ${WORK_DIR}/xm_render.raw RESULT_VARIABLE result ERROR_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "xm_render failed (${result})")
endif()
file(SIZE ${WORK_DIR}/c_program.raw renderedBytes)
if(renderedBytes EQUAL 0)
    message(FATAL_ERROR "the C program rendered nothing")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    ${WORK_DIR}/c_program.raw ${WORK_DIR}/xm_render.raw RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
    message(FATAL_ERROR "the C program's frames differ from xm_render's")
endif()
message(STATUS "The C program's ${renderedBytes} bytes are xm_render's")
