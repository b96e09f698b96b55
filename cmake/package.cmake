# The Debian package (make package): the four programs, the desktop entry, the icon and the
# command line's bash completion from install.cmake, plus what Debian wants beside them: manual
# pages, the documentation with a machine-readable copyright file and a changelog, all compressed
# the way lintian checks.
# The documentation rules below also serve `cmake --install` on other Linux systems.
if(NOT UNIX OR APPLE OR NOT TARGET transmitter-configurator)
    return()
endif()

include(GNUInstallDirs)

set(CONFIGURATOR_PACKAGE_NAME transmitter-configurator)
set(CONFIGURATOR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${CONFIGURATOR_PACKAGE_NAME})

# dpkg-deb takes directory modes from the staging tree, which a umask of 002 (common on CI
# runners) would leave group-writable: lintian's non-standard-dir-perm.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# gzip -9n: maximal compression (lintian's manpage-not-compressed-with-max-compression) and no
# name or time stamp inside (package-contains-timestamped-gzip).
set(compressed_dir ${CMAKE_BINARY_DIR}/package-files)
set(compressed_files)
function(configurator_gzip source name)
    set(output ${compressed_dir}/${name}.gz)
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed_dir}
        COMMAND gzip -9n -c ${source} > ${output}
        DEPENDS ${source}
        VERBATIM)
    set(compressed_files ${compressed_files} ${output} PARENT_SCOPE)
endfunction()

set(man_pages transmitter-configurator.1 transmitter-cli.1 transmitter-sim.1 transmitter-demo.1)
foreach(page IN LISTS man_pages)
    configurator_gzip(${PROJECT_SOURCE_DIR}/docs/${page} ${page})
endforeach()
configurator_gzip(${PROJECT_SOURCE_DIR}/README.md README.md)
configurator_gzip(${PROJECT_SOURCE_DIR}/docs/user-guide.ru.md user-guide.ru.md)
# A native package (no Debian revision in its version) carries changelog.gz, not
# changelog.Debian.gz; its newest entry names the package's version. It is made from
# CHANGELOG.md, which wants a section for every new version.
set(CPACK_PACKAGE_CONTACT
    "Transmitter configurator maintainers <maintainers@users.noreply.c-seed-8b740916.example>")
include(${CMAKE_CURRENT_LIST_DIR}/debian-changelog.cmake)
configurator_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${CMAKE_BINARY_DIR}/changelog
                              ${CONFIGURATOR_PACKAGE_NAME} "${CPACK_PACKAGE_CONTACT}")
configurator_gzip(${CMAKE_BINARY_DIR}/changelog changelog)
add_custom_target(package-files ALL DEPENDS ${compressed_files})

foreach(page IN LISTS man_pages)
    install(FILES ${compressed_dir}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${compressed_dir}/README.md.gz ${compressed_dir}/user-guide.ru.md.gz
              ${compressed_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/docs/copyright
        DESTINATION ${CONFIGURATOR_DOC_DIR})

# lintian finds no error or warning in the package. Its informational notes are left alone:
# binary-has-unneeded-section (CPack's plain strip keeps the compiler's .comment note), and
# hardening-no-bindnow and hardening-no-fortify-functions, which come from the compile and link
# flags of the whole build rather than from packaging.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${CONFIGURATOR_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian policy: binaries in a package are stripped (lintian's unstripped-binary-or-object).
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME ${CONFIGURATOR_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The main window's layout is measured in Calibri; Carlito has its metrics. Liberation is the
# stand-in for the access-code dialog's Microsoft Sans Serif.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-crosextra-carlito, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator for a temperature transmitter on a serial port")
# CPack puts the summary on the synopsis line, indents every line below it and turns the empty
# line into the paragraph separator.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop program, with Russian texts, for setting up a temperature
transmitter (thermocouple or resistance-thermometer input, 4-20 mA or
0-20 mA output) over a serial port. In one window a technician reads and
writes the sensor type, measuring range, output type, fault output level
and cold-junction compensation, reads the firmware version, and reads and
trims the cold-junction temperature behind an access code.

transmitter-cli does the same from a shell or a script, in English: read,
write (with a read-back check), cold-junction, adjust and unlock
subcommands, text or JSON output, and exit codes for scripts; bash
completion is included.

The package also holds transmitter-sim, a simulated transmitter on a
pseudo-terminal, and transmitter-demo, the configurator's window on a
built-in simulated transmitter for trying it without a device.")

include(CPack)
