# Third-party libraries, built in-tree from the sources scripts/bootstrap
# unpacked into .deps/src (never committed).
set(QZR_DEPS_DIR "${CMAKE_SOURCE_DIR}/.deps/src" CACHE PATH "Unpacked third-party sources")

foreach(dep pugixml xz)
  if(NOT EXISTS "${QZR_DEPS_DIR}/${dep}")
    message(FATAL_ERROR "${QZR_DEPS_DIR}/${dep} is missing: run scripts/bootstrap first")
  endif()
endforeach()

# The third-party sources may be a link to a shared unpacked copy: their
# real path is mapped like the checkout's.
file(REAL_PATH "${QZR_DEPS_DIR}" QZR_REAL_DEPS_DIR)
if(NOT QZR_REAL_DEPS_DIR STREQUAL QZR_DEPS_DIR)
  add_compile_options(-ffile-prefix-map=${QZR_REAL_DEPS_DIR}/=.deps/src/)
endif()

add_library(qzr_pugixml STATIC "${QZR_DEPS_DIR}/pugixml/src/pugixml.cpp")
target_include_directories(qzr_pugixml SYSTEM PUBLIC "${QZR_DEPS_DIR}/pugixml/src")
target_compile_definitions(qzr_pugixml PUBLIC PUGIXML_WCHAR_MODE PUGIXML_NO_STL)
if(WIN32)
  target_compile_options(qzr_pugixml PRIVATE -include "${CMAKE_CURRENT_LIST_DIR}/pugixml_msvcrt_numbers.h")
endif()

# liblzma from the xz sources: LZMA-alone decoding in the stub, encoding in
# the packer.
set(BUILD_TESTING OFF)
set(BUILD_SHARED_LIBS OFF)
set(ENABLE_NLS OFF CACHE BOOL "" FORCE)
set(CREATE_XZ_SYMLINKS OFF CACHE BOOL "" FORCE)
set(CREATE_LZMA_SYMLINKS OFF CACHE BOOL "" FORCE)
add_subdirectory("${QZR_DEPS_DIR}/xz" "${CMAKE_BINARY_DIR}/xz" EXCLUDE_FROM_ALL SYSTEM)
# Only LZMA1 is used, in both directions (LZMA-alone data and the raw LZMA1
# streams of payloads): the other filters' coders, which the filter tables
# would keep reachable in every image, are left out.
get_directory_property(qzr_xz_defs DIRECTORY "${QZR_DEPS_DIR}/xz" COMPILE_DEFINITIONS)
list(FILTER qzr_xz_defs EXCLUDE REGEX "^HAVE_(DE|EN)CODER_(ARM|ARMTHUMB|ARM64|DELTA|IA64|LZMA2|POWERPC|SPARC|X86)$")
set_property(DIRECTORY "${QZR_DEPS_DIR}/xz" PROPERTY COMPILE_DEFINITIONS "${qzr_xz_defs}")
# The xz build keeps its public headers private; expose them (and never the
# host's copy) to our code.
add_library(qzr_lzma INTERFACE)
target_link_libraries(qzr_lzma INTERFACE liblzma)
target_include_directories(qzr_lzma SYSTEM BEFORE INTERFACE "${QZR_DEPS_DIR}/xz/src/liblzma/api")
target_compile_definitions(qzr_lzma INTERFACE LZMA_API_STATIC)
