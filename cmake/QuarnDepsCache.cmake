# Where scripts/install-deps keeps what it builds from Debian's source packages
# (the patched cmark-gfm, simdjson's archive). The same rule as the script:
# $QUARN_DEPS_CACHE, else $XDG_CACHE_HOME/quarn, else ~/.cache/quarn.
if(DEFINED ENV{QUARN_DEPS_CACHE} AND NOT "$ENV{QUARN_DEPS_CACHE}" STREQUAL "")
  set(_quarn_deps_default "$ENV{QUARN_DEPS_CACHE}")
elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_quarn_deps_default "$ENV{XDG_CACHE_HOME}/quarn")
else()
  set(_quarn_deps_default "$ENV{HOME}/.cache/quarn")
endif()
set(QUARN_DEPS_CACHE "${_quarn_deps_default}" CACHE PATH
  "Folder of the libraries scripts/install-deps builds")
