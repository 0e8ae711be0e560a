# What `cmake --install` and the Debian package (tools/package.sh) put on a
# station: the two programs, their man pages made from their --help, bash
# completion, the desktop entry with its icon and AppStream metadata, the
# settings a station folder starts with, and the udev rule; the package adds
# its copyright file and changelog.
include(GNUInstallDirs)

install(TARGETS tessell tessell-mkimage RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT programs)
install(FILES packaging/tessell.bash-completion DESTINATION share/bash-completion/completions
    RENAME tessell COMPONENT programs)
install(FILES packaging/tessell.desktop DESTINATION share/applications COMPONENT programs)
install(FILES packaging/tessell.svg DESTINATION share/icons/hicolor/scalable/apps
    COMPONENT programs)
install(FILES packaging/tessell.metainfo.xml DESTINATION share/metainfo COMPONENT programs)
# The installed program copies it into a new station folder; app/paths.h
# finds it at ../share/tessell/setting.ini from the programs' folder.
install(FILES packaging/setting.ini DESTINATION share/tessell COMPONENT programs)

# The man pages are the --help texts, so they never say something else;
# compressed, as Debian keeps them.
find_program(HELP2MAN help2man)
if(HELP2MAN)
    set(tessell_manpages)
    foreach(program tessell tessell-mkimage)
        if(program STREQUAL tessell)
            set(summary "write firmware into the serial flash of USB webcams")
            set(version_option)
        else()
            set(summary "write a synthetic firmware image for testing tessell")
            set(version_option --version-string=${PROJECT_VERSION})
        endif()
        set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${HELP2MAN} --no-info --section 1 --name ${summary} ${version_option}
                --output ${page} $<TARGET_FILE:${program}>
            COMMAND gzip -9nf ${page}
            DEPENDS ${program}
            COMMENT "${program}.1.gz from ${program} --help"
            VERBATIM)
        list(APPEND tessell_manpages ${page}.gz)
    endforeach()
    add_custom_target(tessell-manpage DEPENDS ${tessell_manpages})
    install(FILES ${tessell_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT programs OPTIONAL)
endif()

# The package's copyright file and changelog ("changelog.gz": a native
# package's one changelog), in the package's documentation folder.
set(tessell_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog)
add_custom_command(OUTPUT ${tessell_changelog}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog
        ${tessell_changelog}
    COMMAND gzip -9nf ${tessell_changelog}
    DEPENDS packaging/changelog
    COMMENT "changelog.gz"
    VERBATIM)
add_custom_target(tessell-changelog DEPENDS ${tessell_changelog}.gz)
install(FILES packaging/copyright ${tessell_changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
    COMPONENT package_docs EXCLUDE_FROM_ALL)

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
# One string: a list would put its ';' at the start of the description's lines.
set(CPACK_PACKAGE_DESCRIPTION
    "Tessell writes firmware into the serial flash of USB webcams through the
camera's UVC Extension Unit: one camera in a window or unattended from the
command line for factory scripts, up to 16 cameras burned at once on the
ports of a hub (in the multi-camera window or with tessell burn), or one job
on a camera chosen by its port.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The programs go without their debug information, which is most of their
# size. (CPack's own debug-symbol package, CPACK_DEBIAN_DEBUGINFO_PACKAGE,
# lists its files in md5sums under the build machine's paths in Debian 12's
# CMake 3.25, a package dpkg cannot verify.)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL programs package_udev package_docs)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
include(CPack)
