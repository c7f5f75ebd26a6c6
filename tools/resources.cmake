# SPDX-License-Identifier: GPL-3.0-or-later
# lum_add_resources(<target> [DESCRIPTIONS <file.dsc>...] [FILES <type> <name> <path>...])
# Compiles each description with dabc and links the module's resource table into <target>: the
# descriptions as DABDUMP resources named after their module, each file as a resource of the given
# type under <name> (upper-cased, '.' to '_'). A description with an error fails the build.
function(lum_add_resources target)
  cmake_parse_arguments(ARG "" "" "DESCRIPTIONS;FILES" ${ARGN})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  file(MAKE_DIRECTORY ${dir})
  set(args)
  set(deps)
  foreach(dsc ${ARG_DESCRIPTIONS})
    get_filename_component(source ${dsc} ABSOLUTE)
    get_filename_component(stem ${dsc} NAME_WE)
    set(dab ${dir}/${stem}.dab)
    add_custom_command(OUTPUT ${dab}
      COMMAND dabc ${source} -o ${dab}
      DEPENDS dabc ${source}
      COMMENT "Compiling description ${stem}.dsc" VERBATIM)
    list(APPEND args --dump ${dab})
    list(APPEND deps ${dab})
  endforeach()
  list(LENGTH ARG_FILES count)
  math(EXPR remainder "${count} % 3")
  if(NOT remainder EQUAL 0)
    message(FATAL_ERROR "lum_add_resources: FILES takes <type> <name> <path> triples")
  endif()
  set(i 0)
  while(i LESS count)
    math(EXPR n "${i} + 1")
    math(EXPR p "${i} + 2")
    list(GET ARG_FILES ${i} type)
    list(GET ARG_FILES ${n} name)
    list(GET ARG_FILES ${p} path)
    get_filename_component(path ${path} ABSOLUTE)
    list(APPEND args --file ${type} ${name} ${path})
    list(APPEND deps ${path})
    math(EXPR i "${i} + 3")
  endwhile()
  add_custom_command(OUTPUT ${dir}/resources.cpp
    COMMAND rscgen ${dir}/resources.cpp ${target} ${args}
    DEPENDS rscgen ${deps}
    COMMENT "Resource table of ${target}" VERBATIM)
  target_sources(${target} PRIVATE ${dir}/resources.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/runtime/include)
endfunction()

# A palette PNG converted into a Windows bitmap (`halvings` times half its size) at `output`, for
# report pages, which carry device-independent bitmaps: FILES BITMAP NAME.BMP <output>.
function(lum_bitmap_from_png output png halvings)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  get_filename_component(source ${png} ABSOLUTE)
  add_custom_command(OUTPUT ${output}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/png_to_bmp.py ${source} ${output} --halve ${halvings}
    DEPENDS ${source} ${PROJECT_SOURCE_DIR}/tools/png_to_bmp.py
    COMMENT "Converting ${png} into a bitmap" VERBATIM)
endfunction()
