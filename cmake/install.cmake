# What `cmake --install` lays out under the prefix, used by the LuaRocks
# package and the Debian package alike:
#   lib/<multiarch>/lua/5.1/pelx04.so   where lua5.1 and luajit look when the
#                                       prefix is /usr (the LuaRocks package
#                                       passes its tree's directory instead)
#   bin/pelx04-run, share/man/man1/pelx04-run.1
#   lib/frei0r-1/pelx04.so              the frei0r plugin (plugins/frei0r/), where
#                                       ffmpeg, GStreamer and MLT look
#   share/kdenlive/effects/, share/shotcut/qml/filters/pelx04/
#                                       the effect descriptions for the editors
#   share/doc/pelx04/                   README, licence, changelog, examples, and
#                                       docs/, the manual the README links to
install(TARGETS pelx04 LIBRARY DESTINATION ${PELX04_INSTALL_CMOD})

# The runner installs itself (tools/CMakeLists.txt); its man page is made here.
if(TARGET pelx04-run)
  # The man page is the runner's --help, so it never falls out of step with it.
  find_program(PELX04_HELP2MAN help2man)
  if(PELX04_HELP2MAN AND NOT CMAKE_CROSSCOMPILING AND NOT PELX04_SANITIZE)
    set(PELX04_MAN_PAGE ${CMAKE_BINARY_DIR}/man/pelx04-run.1)
    add_custom_command(OUTPUT ${PELX04_MAN_PAGE}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${PELX04_HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
              "--name=run a pelx04 Lua filter script over images or video frames"
              --output=${PELX04_MAN_PAGE} $<TARGET_FILE:pelx04-run>
      DEPENDS pelx04-run
      COMMENT "Man page of pelx04-run")
    add_custom_target(pelx04-run-man ALL DEPENDS ${PELX04_MAN_PAGE})
    install(FILES ${PELX04_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
