# Installs the build tree into a fresh staging folder through DESTDIR and checks
# that every file a desktop needs arrives where the freedesktop layout wants it.
# Run with -DBUILD_DIR=... -DSTAGING_DIR=... -DPREFIX=... -DBINDIR=... -DDATADIR=...

cmake_minimum_required(VERSION 3.25)

foreach(variable BUILD_DIR STAGING_DIR PREFIX BINDIR DATADIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "checkinstall: ${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGING_DIR}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${STAGING_DIR}" ${CMAKE_COMMAND} --install "${BUILD_DIR}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "checkinstall: cmake --install failed (${result}):\n${output}")
endif()

set(root "${STAGING_DIR}${PREFIX}")
set(data "${root}/${DATADIR}")
set(failures)

macro(expect_file path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    list(APPEND failures "missing ${path}")
  endif()
endmacro()

expect_file("${root}/${BINDIR}/lumivale")
execute_process(COMMAND test -x "${root}/${BINDIR}/lumivale" RESULT_VARIABLE not_executable)
if(NOT not_executable EQUAL 0)
  list(APPEND failures "${root}/${BINDIR}/lumivale is not executable")
endif()
expect_file("${data}/applications/lumivale.desktop")
expect_file("${data}/metainfo/io.github.lumivale.Lumivale.metainfo.xml")
expect_file("${data}/icons/hicolor/scalable/apps/lumivale.svg")

# The bitmaps must have the size of the folder they sit in: a PNG gives its
# width and height as the first two big-endian words after the IHDR tag.
foreach(size 48 128 256)
  set(png "${data}/icons/hicolor/${size}x${size}/apps/lumivale.png")
  expect_file("${png}")
  if(EXISTS "${png}")
    file(READ "${png}" header OFFSET 12 LIMIT 12 HEX)
    string(SUBSTRING "${header}" 0 8 tag)
    string(SUBSTRING "${header}" 8 8 width_hex)
    string(SUBSTRING "${header}" 16 8 height_hex)
    math(EXPR width "0x${width_hex}")
    math(EXPR height "0x${height_hex}")
    if(NOT tag STREQUAL "49484452" OR NOT width EQUAL size OR NOT height EQUAL size)
      list(APPEND failures "${png} is not a ${size}x${size} PNG (${width}x${height})")
    endif()
  endif()
endforeach()

# The desktop entry names the icon and the program that were installed.
if(EXISTS "${data}/applications/lumivale.desktop")
  file(STRINGS "${data}/applications/lumivale.desktop" entry)
  foreach(line "Icon=lumivale" "Exec=lumivale")
    if(NOT line IN_LIST entry)
      list(APPEND failures "lumivale.desktop lacks ${line}")
    endif()
  endforeach()
endif()

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "checkinstall:\n  ${report}")
endif()
file(REMOVE_RECURSE "${STAGING_DIR}")
message(STATUS "checkinstall: all files installed under ${root}")
