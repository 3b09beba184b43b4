# Finds Little CMS 2: its header and library, wherever the toolchain or a
# package manager (CMAKE_PREFIX_PATH, vcpkg's toolchain) puts them.
#   LCMS2::LCMS2   the imported library
#   LCMS2_FOUND, LCMS2_INCLUDE_DIR, LCMS2_LIBRARY, LCMS2_VERSION
find_path(LCMS2_INCLUDE_DIR NAMES lcms2.h)
find_library(LCMS2_LIBRARY NAMES lcms2 liblcms2 lcms2_static)
if(LCMS2_INCLUDE_DIR AND EXISTS "${LCMS2_INCLUDE_DIR}/lcms2.h")
  file(STRINGS "${LCMS2_INCLUDE_DIR}/lcms2.h" _lcms2_version REGEX "^#define LCMS_VERSION +[0-9]+")
  string(REGEX REPLACE "^#define LCMS_VERSION +([0-9]+).*" "\\1" _lcms2_number "${_lcms2_version}")
  if(_lcms2_number)
    math(EXPR _lcms2_major "${_lcms2_number} / 1000")
    math(EXPR _lcms2_minor "(${_lcms2_number} % 1000) / 10")
    set(LCMS2_VERSION "${_lcms2_major}.${_lcms2_minor}")
  endif()
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LCMS2 REQUIRED_VARS LCMS2_LIBRARY LCMS2_INCLUDE_DIR
                                  VERSION_VAR LCMS2_VERSION)
if(LCMS2_FOUND AND NOT TARGET LCMS2::LCMS2)
  add_library(LCMS2::LCMS2 UNKNOWN IMPORTED)
  set_target_properties(LCMS2::LCMS2 PROPERTIES IMPORTED_LOCATION "${LCMS2_LIBRARY}"
                                                INTERFACE_INCLUDE_DIRECTORIES "${LCMS2_INCLUDE_DIR}")
endif()
mark_as_advanced(LCMS2_INCLUDE_DIR LCMS2_LIBRARY)
