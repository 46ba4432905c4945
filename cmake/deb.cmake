# The Debian package of the Linux tools, made by the `package` target:
#
#   /usr/bin/brenvik-cli, /usr/bin/handset-sim
#   /usr/share/man/man1/{brenvik-cli,handset-sim}.1.gz       (from each program's --help)
#   /usr/share/bash-completion/completions/brenvik-cli
#   /usr/lib/udev/rules.d/70-brenvik.rules                   (handsets for plugdev, /dev/brenvik/SERIAL)
#   /usr/lib/systemd/system/brenvik-station.service, /etc/default/brenvik-station (the station)
#   /usr/share/doc/brenvik/{copyright,changelog.gz}          (what Debian requires of every package)
#   /usr/share/lintian/overrides/brenvik                     (lintian's findings that do not apply)
#
# brenvik_<version>_<arch>.deb lands in the build folder.

# A sanitized build is for testing, never shipped.
if(BRENVIK_SANITIZE)
  return()
endif()

# Only the package needs help2man: a plain build goes on without it, and packaging then
# says what is missing instead of shipping a package without its man pages.
find_program(BRENVIK_HELP2MAN help2man)

set(_brenvik_man_dir ${CMAKE_BINARY_DIR}/man)
set(_brenvik_man_pages)
foreach(_program IN ITEMS brenvik-cli handset-sim)
  if(_program STREQUAL "brenvik-cli")
    set(_what "flash firmware images into a handset over USB serial")
    set(_subcommands flash station inspect list)
  else()
    set(_what "the handset's side of the firmware download link, on a pty")
    set(_subcommands)
  endif()
  set(_page ${_brenvik_man_dir}/${_program}.1.gz)
  list(APPEND _brenvik_man_pages ${_page})
  if(BRENVIK_HELP2MAN)
    add_custom_command(
      OUTPUT ${_page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_brenvik_man_dir}
      COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/make-man-page.sh ${BRENVIK_HELP2MAN}
              $<TARGET_FILE:${_program}> ${PROJECT_VERSION} ${_what} ${_page} ${_subcommands}
      DEPENDS ${_program} ${PROJECT_SOURCE_DIR}/packaging/make-man-page.sh
      COMMENT "Man page of ${_program} from its --help"
      VERBATIM)
  endif()
endforeach()

if(BRENVIK_HELP2MAN)
  add_custom_target(man_pages ALL DEPENDS ${_brenvik_man_pages})
else()
  install(CODE [[message(FATAL_ERROR
    "help2man is missing: the man pages cannot be made (bash scripts/install-deps.sh native)")]])
endif()

# A native package (no Debian revision): its changelog is changelog.gz, compressed as
# Debian wants it, without a time stamp, so that two builds give the same bytes.
set(BRENVIK_CONTACT "brenvik@example.org")
set(_brenvik_doc_dir ${CMAKE_BINARY_DIR}/doc)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${_brenvik_doc_dir}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright ${_brenvik_doc_dir}/copyright @ONLY)
find_program(BRENVIK_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${_brenvik_doc_dir}/changelog.gz
  COMMAND ${BRENVIK_GZIP} -9nkf ${_brenvik_doc_dir}/changelog
  DEPENDS ${_brenvik_doc_dir}/changelog
  COMMENT "The package's changelog"
  VERBATIM)
add_custom_target(package_docs ALL DEPENDS ${_brenvik_doc_dir}/changelog.gz)

install(TARGETS brenvik-cli handset-sim RUNTIME DESTINATION bin)
install(FILES ${_brenvik_doc_dir}/copyright ${_brenvik_doc_dir}/changelog.gz DESTINATION share/doc/brenvik)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION share/lintian/overrides RENAME brenvik)
install(FILES ${_brenvik_man_pages} DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/brenvik-cli.bash-completion
        DESTINATION share/bash-completion/completions RENAME brenvik-cli)
# udev reads /usr/lib/udev/rules.d, never /usr/local: the path is fixed, whatever the prefix.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-brenvik.rules DESTINATION lib/udev/rules.d)

# The station as a service: its unit, and the image and options it takes from /etc/default
# (a conffile: an operator's settings survive an upgrade).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/brenvik-station.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/brenvik-station.default
        DESTINATION /etc/default RENAME brenvik-station)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/brenvik-station.logrotate
        DESTINATION /etc/logrotate.d RENAME brenvik-station)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/conffiles)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brenvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Brenvik developers <${BRENVIK_CONTACT}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware flasher for Windows CE handsets over USB serial")
set(CPACK_PACKAGE_DESCRIPTION [[
brenvik-cli writes firmware images (img, raw, bin, nb0, dio) into a handset
over its USB serial link, and inspects images without a device. handset-sim
plays the handset's side of the link on a pty, for demos and tests. A udev
rule gives the handsets' ports to the group plugdev and names each one
/dev/brenvik/SERIAL after its USB serial number.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brenvik developers <${BRENVIK_CONTACT}>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS udev)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
include(CPack)
