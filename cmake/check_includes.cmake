# Fails when a folder includes one it must not. Run by CTest as
#   cmake -DSOURCE_DIR=<top of the source tree> -P check_includes.cmake
# The arrows: pmath (maths functions alike in every build) needs nothing and anyone may use it;
# la3d needs pmath alone; solver needs la3d and sdk; the module needs solver, la3d and sdk;
# the stand-in host (stage/) needs sdk alone and meets the module only through its descriptor.
# Inside stage/, the host's core (files directly in stage/) needs none of the folders below it;
# the report needs the core; the pictures need the report; the formats need the core; the page's
# solver (web/) needs the pictures; the runner may use them all but web/.

# "folder|prefix,prefix,...": a folder (from the top) and the folders whose files it may include;
# "stage/" allows the files directly in stage/, not those of the folders below it.
set(rules
  "pmath|pmath/"
  "la3d|la3d/,pmath/"
  "sdk|sdk/"
  "solver|pmath/,la3d/,sdk/,solver/"
  "module|pmath/,la3d/,sdk/,solver/,module/"
  "stage|pmath/,sdk/,stage/"
  "stage/report|pmath/,sdk/,stage/,stage/report/"
  "stage/pictures|pmath/,sdk/,stage/,stage/report/,stage/pictures/"
  "stage/formats|pmath/,sdk/,stage/,stage/formats/"
  "stage/web|pmath/,sdk/,stage/,stage/report/,stage/pictures/,stage/web/"
  "stage/runner|pmath/,sdk/,stage/,stage/report/,stage/pictures/,stage/formats/,stage/runner/")

set(faults "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  string(REPLACE "," ";" parts "${parts}")
  list(GET parts 0 folder)
  list(SUBLIST parts 1 -1 allowed)
  file(GLOB sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.c
       ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" path "${line}")
      get_filename_component(dir "${path}" DIRECTORY)
      set(ok FALSE)
      foreach(prefix IN LISTS allowed)
        string(REGEX REPLACE "/$" "" prefix_dir "${prefix}")
        if(dir STREQUAL prefix_dir)
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        string(APPEND faults "  ${source} includes \"${path}\" (${folder}/ may include: ${allowed})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Includes against the stated direction:\n${faults}")
endif()
message(STATUS "Every include follows the stated direction")
