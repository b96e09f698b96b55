# CLI11 and nlohmann/json are header-only Debian packages in /usr/include. That folder must not
# be on a cross-build's include path (its C library headers are the build machine's), so a
# folder in the build tree exposes just the two, through the target header_libraries.
find_path(CONFIGURATOR_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
find_path(CONFIGURATOR_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT CONFIGURATOR_CLI11_DIR OR NOT CONFIGURATOR_JSON_DIR)
    message(FATAL_ERROR "transmitter-cli needs CLI11 and nlohmann/json "
                        "(Debian: libcli11-dev nlohmann-json3-dev)")
endif()
set(configurator_header_libraries ${CMAKE_BINARY_DIR}/header-libraries)
file(MAKE_DIRECTORY ${configurator_header_libraries})
file(CREATE_LINK ${CONFIGURATOR_CLI11_DIR}/CLI ${configurator_header_libraries}/CLI SYMBOLIC)
file(CREATE_LINK ${CONFIGURATOR_JSON_DIR}/nlohmann ${configurator_header_libraries}/nlohmann
     SYMBOLIC)
add_library(header_libraries INTERFACE)
target_include_directories(header_libraries SYSTEM INTERFACE ${configurator_header_libraries})
