# The program's libraries are layers, one folder each. hc_layer() declares a
# layer's library and what it links; hc_check_includes() has the build check
# that every #include of a project header in a target's sources names the
# target's own folder or a folder of a layer it links (directly or through
# others). So a header used against the layering fails the build with the
# file and line, instead of waiting for a reviewer.
#
# A layer may also name single headers above it (UP): the handlers of the
# main window live in crawl/ and detail/ and include app/Unit1.h.

# hc_layer(<name> SOURCES <files> [PUBLIC <libs>] [PRIVATE <libs>] [UP <headers>])
# A static library of the sources (an interface library when there is no
# .cpp among them), rooted at the project's top folder for includes.
function(hc_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;PUBLIC;PRIVATE;UP")
  list(FILTER arg_SOURCES INCLUDE REGEX "\\.(h|cpp|ui)$")
  set(_compiled ${arg_SOURCES})
  list(FILTER _compiled INCLUDE REGEX "\\.cpp$")
  if(_compiled)
    add_library(${name} STATIC ${arg_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE})
  else()
    add_library(${name} INTERFACE ${arg_SOURCES})
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${arg_PUBLIC} ${arg_PRIVATE})
  endif()
  file(RELATIVE_PATH _dir ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES HC_LAYER_DIR "${_dir}" HC_LAYER_UP "${arg_UP}")
  hc_check_includes(${name})
endfunction()

# Registers `target` (a layer, a tool) for the include check; the check
# itself is set up once every target is known (end of the configure run).
function(hc_check_includes target)
  set_property(GLOBAL APPEND PROPERTY HC_CHECKED_TARGETS ${target})
  get_target_property(_dir ${target} HC_LAYER_DIR)
  if(NOT _dir)
    file(RELATIVE_PATH _dir ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    set_target_properties(${target} PROPERTIES HC_LAYER_DIR "${_dir}")
  endif()
endfunction()

# The layer folders `target` may include from: its own, those of the layers
# it links, of the layers those pass on to their users, and so on; then its
# UP headers.
function(_hc_allowed_includes target out)
  set(_seen "")
  set(_todo ${target})
  set(_allowed "")
  while(_todo)
    list(POP_FRONT _todo _t)
    if(_t IN_LIST _seen OR NOT TARGET ${_t})
      continue()
    endif()
    list(APPEND _seen ${_t})
    get_target_property(_dir ${_t} HC_LAYER_DIR)
    if(_dir)
      list(APPEND _allowed "${_dir}/")
    endif()
    get_target_property(_up ${_t} HC_LAYER_UP)
    if(_up AND _t STREQUAL target)
      list(APPEND _allowed ${_up})
    endif()
    # The target's own links, then what its dependencies pass on to users
    # (their PUBLIC and INTERFACE links; a PRIVATE one is link-only).
    if(_t STREQUAL target)
      get_target_property(_libs ${_t} LINK_LIBRARIES)
    else()
      get_target_property(_libs ${_t} INTERFACE_LINK_LIBRARIES)
    endif()
    foreach(_lib IN LISTS _libs)
      if(TARGET "${_lib}")
        list(APPEND _todo ${_lib})
      endif()
    endforeach()
  endwhile()
  set(${out} ${_allowed} PARENT_SCOPE)
endfunction()

function(_hc_add_include_checks)
  get_property(_targets GLOBAL PROPERTY HC_CHECKED_TARGETS)
  foreach(_t IN LISTS _targets)
    _hc_allowed_includes(${_t} _allowed)
    get_target_property(_srcdir ${_t} SOURCE_DIR)
    get_target_property(_sources ${_t} SOURCES)
    set(_files "")
    foreach(_s IN LISTS _sources)
      if(_s MATCHES "\\.(h|cpp)$")
        if(NOT IS_ABSOLUTE "${_s}")
          set(_s "${_srcdir}/${_s}")
        endif()
        if(EXISTS "${_s}")
          list(APPEND _files "${_s}")
        endif()
      endif()
    endforeach()
    set(_stamp "${PROJECT_BINARY_DIR}/layers/${_t}.checked")
    string(REPLACE ";" "|" _allowed_arg "${_allowed}")
    string(REPLACE ";" "|" _files_arg "${_files}")
    add_custom_command(OUTPUT "${_stamp}"
      COMMAND ${CMAKE_COMMAND} "-DROOT=${PROJECT_SOURCE_DIR}" "-DTARGET=${_t}"
              "-DALLOWED=${_allowed_arg}" "-DFILES=${_files_arg}" "-DSTAMP=${_stamp}"
              -P "${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake"
      DEPENDS ${_files} "${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake"
      COMMENT "Checking the includes of ${_t}" VERBATIM)
    add_custom_target(${_t}_includes DEPENDS "${_stamp}")
    add_dependencies(${_t} ${_t}_includes)
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _hc_add_include_checks)
