# What `cmake --install` puts where, and the packages CPack makes from it
# (`make package` builds both):
# - Linux: a Debian package. The programs in /usr/bin, every docs/*.1 as a
#   gzipped manual page, and in /usr/share/doc/orn5300cli the README, the
#   simulator notes, the examples, the copyright file and the changelog.
# - Windows: a zip file with one folder: the programs, README.txt,
#   LICENSE.txt, COPYRIGHT.txt, examples\ and docs\ (the manual pages
#   rendered as text), every text file with CR LF line ends.
# orn5300img, orn5300log and orn5300db are packed when this tree builds them; manual pages and examples
# are found by name, so new ones are packed without a change here.
include(GNUInstallDirs)

set(ORN_PACKAGE_MAINTAINER "ORN53xx tools maintainers <orn5300cli@example.com>"
  CACHE STRING "Maintainer field of the Debian package")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(ORN_PROGRAMS orn5300cli orn5300sim)
foreach(tool orn5300img orn5300log orn5300db)
  if(TARGET ${tool})
    list(APPEND ORN_PROGRAMS ${tool})
  endif()
endforeach()
file(GLOB ORN_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.1)
file(GLOB ORN_EXAMPLES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.ini)
# The documents for users (docs/architecture.md is for the developers).
set(ORN_USER_DOCS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/simulator.md)

set(ORN_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package_files)
set(ORN_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/package_file.cmake)
set(ORN_PACKAGE_OUTPUTS)

# orn_package_file(MODE SOURCE OUTPUT [extra -D arguments]): OUTPUT is made
# from SOURCE by package_file.cmake at build time.
function(orn_package_file mode source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DMODE=${mode} -DIN=${source} -DOUT=${output} ${ARGN}
            -P ${ORN_PACKAGE_SCRIPT}
    DEPENDS ${source} ${ORN_PACKAGE_SCRIPT} VERBATIM)
  set(ORN_PACKAGE_OUTPUTS ${ORN_PACKAGE_OUTPUTS} ${output} PARENT_SCOPE)
endfunction()

if(WIN32)
  find_program(ORN_GROFF groff)
  if(NOT ORN_GROFF)
    message(FATAL_ERROR "groff renders the manual pages for the Windows package (Debian package groff-base)")
  endif()
  install(TARGETS ${ORN_PROGRAMS} RUNTIME DESTINATION .)
  set(texts README.md:README.txt LICENSE:LICENSE.txt packaging/copyright:COPYRIGHT.txt
            docs/simulator.md:docs/simulator.txt)
  foreach(example ${ORN_EXAMPLES})
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${example})
    list(APPEND texts ${relative}:${relative})
  endforeach()
  foreach(pair ${texts})
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 from)
    list(GET pair 1 to)
    orn_package_file(text ${PROJECT_SOURCE_DIR}/${from} ${ORN_PACKAGE_FILES}/${to})
    get_filename_component(to_dir ${to} DIRECTORY)
    install(FILES ${ORN_PACKAGE_FILES}/${to} DESTINATION ./${to_dir})
  endforeach()
  foreach(page ${ORN_MAN_PAGES})
    get_filename_component(name ${page} NAME_WE)
    orn_package_file(man-text ${page} ${ORN_PACKAGE_FILES}/docs/${name}.txt -DGROFF=${ORN_GROFF})
    install(FILES ${ORN_PACKAGE_FILES}/docs/${name}.txt DESTINATION docs)
  endforeach()
else()
  install(TARGETS ${ORN_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(page ${ORN_MAN_PAGES})
    get_filename_component(name ${page} NAME)
    orn_package_file(gzip ${page} ${ORN_PACKAGE_FILES}/man/${name}.gz)
    install(FILES ${ORN_PACKAGE_FILES}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  orn_package_file(gzip ${PROJECT_SOURCE_DIR}/packaging/changelog ${ORN_PACKAGE_FILES}/changelog.gz)
  install(FILES ${ORN_USER_DOCS} ${PROJECT_SOURCE_DIR}/packaging/copyright
                ${ORN_PACKAGE_FILES}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${ORN_EXAMPLES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME orn5300cli)
  # A stripped program keeps the compiler's .comment and .note sections;
  # Debian's own strip step removes them too.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(program ${ORN_PROGRAMS})
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
      endforeach()
    endif()")
endif()

file(MAKE_DIRECTORY ${ORN_PACKAGE_FILES}/docs ${ORN_PACKAGE_FILES}/examples ${ORN_PACKAGE_FILES}/man)
add_custom_target(orn_package_files ALL DEPENDS ${ORN_PACKAGE_OUTPUTS})
# Everything a package holds: `make package` builds this, not the tests.
add_custom_target(orn_package_contents)
add_dependencies(orn_package_contents orn_package_files ${ORN_PROGRAMS})

set(CPACK_PACKAGE_NAME orn5300cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ORN")
set(CPACK_PACKAGE_CONTACT "${ORN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "production tool for ORN53xx USB-to-Ethernet controllers")
# The long description, in lines short enough for the Debian control file.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "orn5300cli is the command-line tool of a production station for ORN5300,"
  "ORN5301, ORN530A and ORN5350 USB-to-Ethernet controllers. Each run does one"
  "job and ends with an exit code that tells which stage failed:"
  " - program the configuration EEPROM or the one-time-programmable memory"
  "   from an INI file or a binary image, and verify it;"
  " - give every device its own MAC address and serial number;"
  " - generate EEPROM and OTP image files without a device;"
  " - check the link with a forced link mode, a ping or a loopback test;"
  " - read and write controller and PHY registers, download 8051 firmware."
  "On Linux the tool works with a simulated controller whose whole state is a"
  "JSON file; orn5300sim, included, creates and shows such files.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME orn5300cli-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORN_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Dependencies as dpkg-shlibdeps finds them (Debian package dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
