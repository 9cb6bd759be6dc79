# cmake -DDIRS=<dir;dir...> [-DSTAMP=<file>] -P QvNoQtCheck.cmake
# Fails when a source file under one of the folders includes a Qt header or a
# header of the Qt-backed layers: the table library, the engine and the plain
# platform layer must build and run without Qt.
set(pattern "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z0-9_]*|Qt[A-Za-z]+/[^>\"]*|qt6/[^>\"]*|platform_qt/[^>\"]*)[>\"]")
set(found "")
foreach(dir ${DIRS})
  file(GLOB_RECURSE files "${dir}/*.h" "${dir}/*.hpp" "${dir}/*.cpp" "${dir}/*.cc")
  foreach(f ${files})
    file(STRINGS "${f}" lines REGEX "${pattern}")
    foreach(line ${lines})
      string(APPEND found "  ${f}: ${line}\n")
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "Qt headers included where Qt is not allowed:\n${found}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
