# Fails when a file under player/ includes a layer after its own (which is
# also how an include cycle between the layers would show) or a header of the
# operating system. Run with cmake -DPLAYER_DIR=<project>/player -P <this file>.
set(layers song mixer sequencer playback output)
# Headers of the compiler rather than of the system: the vector intrinsics,
# and the C header's fixed-width types.
set(allowedSystemHeaders immintrin.h emmintrin.h stdbool.h stddef.h stdint.h)

function(layer_rank path result)
    string(REGEX MATCH "^player/([a-z_]+)/" match "${path}")
    if(match STREQUAL "player/c_api/")
        list(LENGTH layers rank)  # the C API, over the facade
        math(EXPR rank "${rank} + 1")
    elseif(match)
        list(FIND layers "${CMAKE_MATCH_1}" rank)
    else()
        list(LENGTH layers rank)  # player/player.h and player.cpp: the facade
    endif()
    set(${result} ${rank} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE "${PLAYER_DIR}/.." "${PLAYER_DIR}/*.h" "${PLAYER_DIR}/*.cpp")
set(faults "")
foreach(source IN LISTS sources)
    layer_rank("${source}" ownRank)
    file(STRINGS "${PLAYER_DIR}/../${source}" includes REGEX "^#include [<\"]")
    foreach(line IN LISTS includes)
        if(line MATCHES "^#include \"(player/[^\"]+)\"")
            layer_rank("${CMAKE_MATCH_1}" includedRank)
            if(includedRank GREATER ownRank)
                string(APPEND faults "${source} includes ${CMAKE_MATCH_1}, a later layer\n")
            endif()
        elseif(line MATCHES "^#include \"")
            string(APPEND faults "${source}: ${line} is outside the player\n")
        elseif(line MATCHES "^#include <([^>]+\\.h)>")
            list(FIND allowedSystemHeaders "${CMAKE_MATCH_1}" allowed)
            if(allowed EQUAL -1)
                string(APPEND faults "${source} includes the system header <${CMAKE_MATCH_1}>\n")
            endif()
        endif()
    endforeach()
endforeach()
list(LENGTH sources count)
if(faults)
    message(FATAL_ERROR "The player's layers are broken:\n${faults}")
endif()
message(STATUS "${count} files of the player keep to their layers")
