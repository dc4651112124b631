# What the build takes from the machine. A missing piece stops the configure step with the
# Debian package that brings it, instead of leaving a part of the build or of the tests out.
#
#   quenvar_require_package(PACKAGE [VERSION v] [COMPONENTS c...] DEBIAN debian-package)
#   quenvar_require_program(VARIABLE NAMES name... [PATHS folder...] DEBIAN debian-package)
#   quenvar_require_path(PATH WHAT description DEBIAN debian-package)

function(quenvar_missing_requirement what debian_package)
  message(FATAL_ERROR "${what} was not found. It comes with the Debian package ${debian_package}: "
                      "sudo apt-get install ${debian_package}, or `make deps`, which installs everything "
                      "the build and the tests need.")
endfunction()

# A macro, so that what find_package sets is seen where it is called.
macro(quenvar_require_package package)
  cmake_parse_arguments(quenvar_required "" "VERSION;DEBIAN" "COMPONENTS" ${ARGN})
  set(quenvar_find_arguments ${quenvar_required_VERSION} QUIET)
  if(quenvar_required_COMPONENTS)
    list(APPEND quenvar_find_arguments COMPONENTS ${quenvar_required_COMPONENTS})
  endif()
  find_package(${package} ${quenvar_find_arguments})
  set(quenvar_missing)
  foreach(component ${quenvar_required_COMPONENTS})
    if(NOT ${package}${component}_FOUND)
      list(APPEND quenvar_missing ${package}${component})
    endif()
  endforeach()
  if(NOT ${package}_FOUND AND NOT quenvar_missing)
    set(quenvar_missing ${package})
  endif()
  if(quenvar_missing)
    list(JOIN quenvar_missing ", " quenvar_missing)
    if(quenvar_required_VERSION)
      string(APPEND quenvar_missing " (${quenvar_required_VERSION} or later)")
    endif()
    quenvar_missing_requirement("${quenvar_missing}" ${quenvar_required_DEBIAN})
  endif()
endmacro()

function(quenvar_require_program variable)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DEBIAN" "NAMES;PATHS")
  find_program(${variable} NAMES ${arg_NAMES} PATHS ${arg_PATHS})
  if(NOT ${variable})
    list(JOIN arg_NAMES " or " names)
    quenvar_missing_requirement("The program ${names}" ${arg_DEBIAN})
  endif()
endfunction()

function(quenvar_require_path path)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "WHAT;DEBIAN" "")
  if(NOT EXISTS ${path})
    quenvar_missing_requirement("${arg_WHAT} (${path})" ${arg_DEBIAN})
  endif()
endfunction()
