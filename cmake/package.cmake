# The zip of the Windows deliverables, made by every build, laid out as a user unpacks it:
#
#   Brenvik-<version>-win32/Brenvik.exe            (once the dialog is built)
#   Brenvik-<version>-win32/setup.exe
#   Brenvik-<version>-win32/Driver/wceusbsh.inf    (setup.exe looks for it there)
#
# The programs in the zip are stripped; the build tree keeps their symbols.
set(BRENVIK_PACKAGE_NAME "Brenvik-${PROJECT_VERSION}-win32")

function(brenvik_add_package)
  set(stage_root ${CMAKE_BINARY_DIR}/package)
  set(stage ${stage_root}/${BRENVIK_PACKAGE_NAME})
  set(zip ${CMAKE_BINARY_DIR}/${BRENVIK_PACKAGE_NAME}.zip)
  file(MAKE_DIRECTORY ${stage_root})

  # Whatever exists when configuration ends: the dialog joins the zip as soon as its
  # target does.
  set(programs setup)
  if(TARGET Brenvik)
    list(PREPEND programs Brenvik)
  endif()

  set(copy_programs)
  set(depends)
  foreach(program IN LISTS programs)
    list(APPEND depends ${program} $<TARGET_FILE:${program}>)
    set(packed ${stage}/$<TARGET_FILE_NAME:${program}>)
    list(APPEND copy_programs COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}> ${packed})
    if(CMAKE_STRIP)
      list(APPEND copy_programs COMMAND ${CMAKE_STRIP} ${packed})
    endif()
  endforeach()

  set(inf ${PROJECT_SOURCE_DIR}/setup/Driver/wceusbsh.inf)
  list(JOIN programs ", " program_list)
  add_custom_command(
    OUTPUT ${zip}
    # Made afresh each time, so nothing stale is ever shipped.
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${zip}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/Driver
    ${copy_programs}
    COMMAND ${CMAKE_COMMAND} -E copy ${inf} ${stage}/Driver/wceusbsh.inf
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${BRENVIK_PACKAGE_NAME}
    WORKING_DIRECTORY ${stage_root}
    DEPENDS ${depends} ${inf}
    COMMENT "Packing ${BRENVIK_PACKAGE_NAME}.zip: ${program_list}, the driver INF"
    VERBATIM)
  add_custom_target(package_zip ALL DEPENDS ${zip})
endfunction()

# At the end of the top-level configuration, when every program's target is known.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL brenvik_add_package)
