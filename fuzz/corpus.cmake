cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...)
# Fills OUT/NAME/ with each fuzz target's seeds: the shipped file it reads, and the files in
# SEEDS/NAME/. The sound target starts from SHORT_BANK, the shipped bank with every wave cut
# short: a 400 KB input makes each run many times slower and reaches nothing more.
# Existing corpus files (what earlier runs found) are kept.
# The targets that play a session read their scene from an input's last byte: each of their
# seeds is written four times, ending in "0" to "3", one for each scene.
set(session_targets graphics font sound level settings)

function(add_seed name source)
    get_filename_component(base ${source} NAME)
    if(name IN_LIST session_targets)
        foreach(scene 0 1 2 3)
            set(seed ${OUT}/${name}/seed-${scene}-${base})
            file(COPY_FILE ${source} ${seed})
            file(APPEND ${seed} "${scene}")
        endforeach()
    else()
        file(COPY_FILE ${source} ${OUT}/${name}/seed-${base} ONLY_IF_DIFFERENT)
    endif()
endfunction()

foreach(pair graphics:tank.grp font:tank.fnt level:lswap.dat)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 name)
    list(GET pair 1 file)
    file(MAKE_DIRECTORY ${OUT}/${name})
    add_seed(${name} ${DATA}/${file})
endforeach()
file(MAKE_DIRECTORY ${OUT}/sound)
add_seed(sound ${SHORT_BANK})
file(GLOB dirs RELATIVE ${SEEDS} ${SEEDS}/*)
foreach(name ${dirs})
    file(MAKE_DIRECTORY ${OUT}/${name})
    file(GLOB seeds ${SEEDS}/${name}/*)
    foreach(seed ${seeds})
        add_seed(${name} ${seed})
    endforeach()
endforeach()
