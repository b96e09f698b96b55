# cmake --install: the programs in bin; on Linux also the desktop entry and the icon, so that
# the configurator shows in the desktop's menu, and the command line's bash completion.
include(GNUInstallDirs)

foreach(program transmitter-configurator transmitter-cli transmitter-demo transmitter-sim)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

if(UNIX AND NOT APPLE AND TARGET transmitter-configurator)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/transmitter-configurator.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/transmitter-configurator.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# bash-completion loads a command's file by the command's name, on first use.
if(UNIX AND TARGET transmitter-cli)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/transmitter-cli.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME transmitter-cli)
endif()
