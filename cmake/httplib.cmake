# cpp-httplib, the operator page's HTTP server, as the target httplib_library. On Linux,
# Debian's libcpp-httplib-dev (a shared library, with the definitions it was built with). The
# Windows builds, and a fully static Linux build, compile its single header in, from Debian's
# own cpp-httplib source package (scripts/debian-source.sh cpp-httplib prints the folder), so
# that the programs need no shared library of it.
add_library(httplib_library INTERFACE)
set(CONFIGURATOR_HTTPLIB_DIR "" CACHE PATH
    "Folder with cpp-httplib's httplib.h to compile in (scripts/debian-source.sh cpp-httplib OUTDIR prints it)")
if(WIN32 OR NOT CONFIGURATOR_HTTPLIB_DIR STREQUAL "")
    if(NOT EXISTS "${CONFIGURATOR_HTTPLIB_DIR}/httplib.h")
        message(FATAL_ERROR
            "This build compiles cpp-httplib in, and CONFIGURATOR_HTTPLIB_DIR "
            "('${CONFIGURATOR_HTTPLIB_DIR}') holds no httplib.h. On Debian, "
            "scripts/debian-source.sh cpp-httplib build-httplib prints the folder to pass; make "
            "windows, make release and the Wine tests do it themselves.")
    endif()
    # Only the header: the source tree's other folders stay off the include path.
    set(configurator_httplib_include ${CMAKE_BINARY_DIR}/httplib-include)
    file(MAKE_DIRECTORY ${configurator_httplib_include})
    configure_file(${CONFIGURATOR_HTTPLIB_DIR}/httplib.h ${configurator_httplib_include}/httplib.h
                   COPYONLY)
    target_include_directories(httplib_library SYSTEM INTERFACE ${configurator_httplib_include})
    if(WIN32)
        target_link_libraries(httplib_library INTERFACE ws2_32)
    endif()
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    target_link_libraries(httplib_library INTERFACE PkgConfig::CPP_HTTPLIB)
endif()
