# Installation and the Debian package: `cpack -G DEB` in the build folder makes
# rivenoak_VERSION_amd64.deb with both programs, their man pages (made from their --help), a
# desktop entry, the icon, and the copyright and changelog Debian asks of every package. Its
# dependencies are named as Debian's packages; `lintian` checks it in the test script.
include(GNUInstallDirs)

install(TARGETS rivenoak isam_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/rivenoak.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/rivenoak.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/rivenoak.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)

set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/rivenoak)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${doc_dir})
# Debian keeps changelogs compressed, without a name or time stamp in the gzip header, so that
# the package is the same whenever it is built.
set(changelog_gz ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(
  OUTPUT ${changelog_gz}
  COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/changelog > ${changelog_gz}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
  COMMENT "Compressing the changelog")
add_custom_target(changelog ALL DEPENDS ${changelog_gz})
install(FILES ${changelog_gz} DESTINATION ${doc_dir})

find_program(HELP2MAN help2man)
# Not in the sanitized build, whose programs are for the tests only.
if(HELP2MAN AND NOT RIVENOAK_SANITIZE)
  set(man_dir ${PROJECT_BINARY_DIR}/man)
  add_custom_command(
    OUTPUT ${man_dir}/rivenoak.1.gz ${man_dir}/isam.1.gz
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/man_pages.sh $<TARGET_FILE:rivenoak>
            $<TARGET_FILE:isam_tool> ${PROJECT_VERSION} ${man_dir}
    DEPENDS rivenoak isam_tool ${PROJECT_SOURCE_DIR}/scripts/man_pages.sh
    COMMENT "Making the man pages from --help")
  add_custom_target(man_pages ALL DEPENDS ${man_dir}/rivenoak.1.gz ${man_dir}/isam.1.gz)
  install(FILES ${man_dir}/rivenoak.1.gz ${man_dir}/isam.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "No man pages in this build (help2man missing or a sanitized build)")
endif()

set(CPACK_PACKAGE_NAME rivenoak)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Rivenoak")
set(CPACK_PACKAGE_CONTACT "Rivenoak Developers <developers@rivenoak.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Repairs and completes the accounting data of a medical practice")
# Debian shows the long description as it stands: lines of at most 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Rivenoak makes transaction types agree with their procedure codes, has\n"
       "payments without a payer assigned one, divides payments among their\n"
       "documents' charges as application records and moves the cut-off cents onto\n"
       "charges that still carry a balance. Also the isam tool for its table files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libgcc-s1, libsqlite3-0, libqt6core6, libqt6gui6, libqt6widgets6, qt6-qpa-plugins")
include(CPack)
