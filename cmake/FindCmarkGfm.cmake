# Finds cmark-gfm 0.29.0.gfm.13 with its extensions library, as static archives
# built by scripts/install-deps with the patches in scripts/patches applied.
#
# Looks under CmarkGfm_ROOT (a cache or environment variable) or
# ${QUARN_DEPS_CACHE}/cmark-gfm-0.29.0.gfm.13. Defines CmarkGfm::core and
# CmarkGfm::extensions (which brings core along), and CmarkGfm_FOUND.
#
# A build without this checkout's patches is refused: it would bring back the
# cross-thread race they mend.
set(_cmark_version 0.29.0.gfm.13)
set(_cmark_hint "${QUARN_DEPS_CACHE}/cmark-gfm-${_cmark_version}")
find_path(CmarkGfm_INCLUDE_DIR cmark-gfm.h HINTS ${_cmark_hint} PATH_SUFFIXES include
  NO_DEFAULT_PATH NO_CMAKE_SYSTEM_PATH)
find_library(CmarkGfm_LIBRARY libcmark-gfm.a HINTS ${_cmark_hint} PATH_SUFFIXES lib
  NO_DEFAULT_PATH)
find_library(CmarkGfm_EXTENSIONS_LIBRARY libcmark-gfm-extensions.a HINTS ${_cmark_hint}
  PATH_SUFFIXES lib NO_DEFAULT_PATH)

set(CmarkGfm_PATCHED FALSE)
if(CmarkGfm_LIBRARY)
  get_filename_component(_cmark_prefix "${CmarkGfm_LIBRARY}" DIRECTORY)
  get_filename_component(_cmark_prefix "${_cmark_prefix}" DIRECTORY)
  file(GLOB _cmark_patches ${PROJECT_SOURCE_DIR}/scripts/patches/cmark-gfm-*.patch)
  list(SORT _cmark_patches)
  set(_cmark_text "")
  foreach(_patch IN LISTS _cmark_patches)
    file(READ ${_patch} _one)
    string(APPEND _cmark_text "${_one}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_patch})
  endforeach()
  string(SHA256 _cmark_stamp "${_cmark_text}")
  if(EXISTS ${_cmark_prefix}/.complete)
    file(STRINGS ${_cmark_prefix}/.complete _cmark_built LIMIT_COUNT 1)
    if(_cmark_built STREQUAL _cmark_stamp)
      set(CmarkGfm_PATCHED TRUE)
    endif()
  endif()
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(CmarkGfm
  REQUIRED_VARS CmarkGfm_LIBRARY CmarkGfm_EXTENSIONS_LIBRARY CmarkGfm_INCLUDE_DIR CmarkGfm_PATCHED
  VERSION_VAR _cmark_version
  REASON_FAILURE_MESSAGE "run scripts/install-deps, which builds it with this checkout's patches")

if(CmarkGfm_FOUND AND NOT TARGET CmarkGfm::core)
  add_library(CmarkGfm::core STATIC IMPORTED)
  set_target_properties(CmarkGfm::core PROPERTIES IMPORTED_LOCATION ${CmarkGfm_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${CmarkGfm_INCLUDE_DIR}
    INTERFACE_COMPILE_DEFINITIONS "CMARK_GFM_STATIC_DEFINE;CMARK_GFM_EXTENSIONS_STATIC_DEFINE")
  add_library(CmarkGfm::extensions STATIC IMPORTED)
  set_target_properties(CmarkGfm::extensions PROPERTIES
    IMPORTED_LOCATION ${CmarkGfm_EXTENSIONS_LIBRARY} INTERFACE_LINK_LIBRARIES CmarkGfm::core)
endif()
