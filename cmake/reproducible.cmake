# Release builds of one commit give the same bytes whatever folder they run in and whenever they
# run (make release checks it by building twice). The folders are replaced by fixed names
# wherever the compiler writes a path (__FILE__, debug information), and the Windows linker
# leaves the link time out of the executable's header. Time stamps that archives and installers
# carry come from SOURCE_DATE_EPOCH, which scripts/release.sh sets to the commit's time.
#
# Debug builds keep their real paths so that a debugger finds the sources without being told.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
    set(configurator_reproducible_default ON)
else()
    set(configurator_reproducible_default OFF)
endif()
option(CONFIGURATOR_REPRODUCIBLE "Keep build folders and times out of what is built"
       ${configurator_reproducible_default})

if(CONFIGURATOR_REPRODUCIBLE AND NOT MSVC)
    # GCC applies the last matching map, so the build folder, which may lie inside the source
    # folder, comes second.
    add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                        -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
endif()
if(CONFIGURATOR_REPRODUCIBLE AND MINGW)
    # GNU ld otherwise writes the link time into the PE header's TimeDateStamp.
    add_link_options(LINKER:--no-insert-timestamp)
endif()
