# What `cmake --install` and the Debian package (tools/package.sh) put on a
# station: the two programs, the man page made from `tessell --help`, bash
# completion, the desktop entry with its icon, and the udev rule.
include(GNUInstallDirs)

install(TARGETS tessell tessell-mkimage RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT programs)
install(FILES packaging/tessell.bash-completion DESTINATION share/bash-completion/completions
    RENAME tessell COMPONENT programs)
install(FILES packaging/tessell.desktop DESTINATION share/applications COMPONENT programs)
install(FILES packaging/tessell.svg DESTINATION share/icons/hicolor/scalable/apps
    COMPONENT programs)

# The man page is the --help text, so it never says something else.
find_program(HELP2MAN help2man)
if(HELP2MAN)
    # Compressed, as Debian keeps man pages.
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/tessell.1.gz
        COMMAND ${HELP2MAN} --no-info --section 1
            --name "write firmware into the serial flash of USB webcams"
            --output ${CMAKE_CURRENT_BINARY_DIR}/tessell.1 $<TARGET_FILE:tessell>
        COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/tessell.1
        DEPENDS tessell
        COMMENT "tessell.1.gz from tessell --help")
    add_custom_target(tessell-manpage DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tessell.1.gz)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tessell.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT programs OPTIONAL)
endif()

# A package's udev rules belong in the folder udev reads for packages; the
# folder above (/etc) is the administrator's. Only the package installs this
# copy.
install(FILES packaging/70-tessell-camera.rules DESTINATION /lib/udev/rules.d
    COMPONENT package_udev EXCLUDE_FROM_ALL)

# `cpack -G DEB` in the build folder: one package of the programs and the
# packaged udev rule. Packaging installs only what tools/package.sh built.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_PACKAGE_NAME tessell)
set(CPACK_PACKAGE_VENDOR "Tessell developers")
set(CPACK_PACKAGE_CONTACT "Tessell developers <tessell@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write firmware into the serial flash of USB webcams")
set(CPACK_PACKAGE_DESCRIPTION
    "Tessell writes firmware into the serial flash of USB webcams through the\n"
    "camera's UVC Extension Unit: one camera in a window, unattended from the\n"
    "command line for factory scripts, or one job on a camera chosen by its port.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL programs package_udev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
include(CPack)
