# Windows bits of the pelx04 module, included by src/CMakeLists.txt: the module
# links against the host's lua51.dll through an import library made from
# src/lua/lua51.def, so building needs no Windows Lua.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PELX04_DLLTOOL_MACHINE i386:x86-64)
else()
  set(PELX04_DLLTOOL_MACHINE i386)
endif()
if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES dlltool REQUIRED)
endif()

set(PELX04_LUA_DEF ${CMAKE_CURRENT_SOURCE_DIR}/lua/lua51.def)
set(PELX04_LUA_IMPLIB ${CMAKE_CURRENT_BINARY_DIR}/liblua51.dll.a)
add_custom_command(OUTPUT ${PELX04_LUA_IMPLIB}
  COMMAND ${CMAKE_DLLTOOL} -m ${PELX04_DLLTOOL_MACHINE} --input-def ${PELX04_LUA_DEF}
          --dllname lua51.dll --output-lib ${PELX04_LUA_IMPLIB}
  DEPENDS ${PELX04_LUA_DEF}
  COMMENT "Import library for lua51.dll")
add_custom_target(pelx04_lua51_implib DEPENDS ${PELX04_LUA_IMPLIB})

add_library(pelx04_lua51 INTERFACE)
target_link_libraries(pelx04_lua51 INTERFACE ${PELX04_LUA_IMPLIB})
add_dependencies(pelx04_lua51 pelx04_lua51_implib)

# After the Lua layer on the link line, so its calls resolve against it.
target_link_libraries(pelx04 PRIVATE pelx04_lua51)
set_property(TARGET pelx04 APPEND PROPERTY LINK_DEPENDS ${PELX04_LUA_IMPLIB})
# Only the dllexport'ed luaopen_pelx04 goes into the export table, never
# symbols of the static runtime libraries.
target_link_options(pelx04 PRIVATE -Wl,--exclude-all-symbols)

# The notes that go into the Windows zips, with this version in the title.
configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt.in ${CMAKE_BINARY_DIR}/README-windows.txt @ONLY)
