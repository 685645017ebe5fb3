# Install rules and packages.
#
# Linux: `make install` (PREFIX, DESTDIR) puts the programs into bin/, the
# manual pages into share/man/man1/ and the README with the examples into
# share/doc/teilimp/; `make package` makes the Debian package of the same
# files (prefix /usr), its dependencies computed by dpkg-shlibdeps.
# Windows (the MinGW-w64 cross build): a zip with both programs, README.txt
# in CR LF and the examples, all in one folder to unpack onto a share.
#
# Installing builds nothing: the Makefile's targets build first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
file(GLOB TEILIMP_EXAMPLES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/*.epn)

set(CPACK_PACKAGE_NAME teilimp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TEILIMP")
set(CPACK_PACKAGE_CONTACT "TEILIMP developers <teilimp@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "imports garment pattern pieces from EPN files into a CAD storage area")
set(CPACK_PACKAGE_DESCRIPTION "TEILIMP reads pattern pieces from EPN text files, brings them into one normal form\nand stores them safely in a storage area of the CAD system, also when several\nimporters on several machines share the area. teilarea lists, checks, repairs\nand draws what an area holds.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS teilimp teilarea RUNTIME DESTINATION .)
  file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
  string(REPLACE "\r\n" "\n" readme "${readme}")
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
  install(FILES ${TEILIMP_EXAMPLES} DESTINATION examples)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME teilimp-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME teilimp-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  include(GNUInstallDirs)
  install(TARGETS teilimp teilarea RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/docs/man/teilimp.1 ${CMAKE_SOURCE_DIR}/docs/man/teilarea.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${TEILIMP_EXAMPLES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  set(CPACK_GENERATOR DEB)
  # teilimp_<version>_<arch>.deb
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
