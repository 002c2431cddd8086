# libxlsxwriter, which writes the .xlsx output, as one target for the
# program's library to link: qsoflat::xlsxwriter. Included from the top
# CMakeLists.txt.
#
# On Linux it is Debian's libxlsxwriter-dev. The Windows programs link it
# statically: the build fetches Debian's source package of the same version
# into the build folder (apt-get source, which needs a deb-src entry in the
# apt sources and dpkg-dev to unpack) and compiles it here against the
# static zlib of libz-mingw-w64-dev, so that both systems run one version of
# the library and the programs need no DLL of it.
set(QSOFLAT_XLSXWRITER_VERSION 1.1.4)

if(NOT WIN32)
  find_path(XLSXWRITER_INCLUDE_DIR xlsxwriter.h)
  find_library(XLSXWRITER_LIBRARY xlsxwriter)
  if(NOT XLSXWRITER_INCLUDE_DIR OR NOT XLSXWRITER_LIBRARY)
    message(FATAL_ERROR
      "The .xlsx output needs libxlsxwriter, which was not found. Install it "
      "(on Debian: apt-get install libxlsxwriter-dev).")
  endif()
  file(STRINGS ${XLSXWRITER_INCLUDE_DIR}/xlsxwriter.h version_line
       REGEX "define LXW_VERSION ")
  string(REGEX MATCH "[0-9.]+" version "${version_line}")
  message(STATUS "libxlsxwriter ${version}: ${XLSXWRITER_LIBRARY}")
  # The program loads the library by the name its package gives the file
  # that the link name leads to (libxlsxwriter.so.4), only when it writes
  # an .xlsx; the tools beside it link it.
  set(QSOFLAT_XLSXWRITER_SONAME ${XLSXWRITER_LIBRARY})
  while(IS_SYMLINK ${QSOFLAT_XLSXWRITER_SONAME})
    file(READ_SYMLINK ${QSOFLAT_XLSXWRITER_SONAME} link)
    get_filename_component(folder ${QSOFLAT_XLSXWRITER_SONAME} DIRECTORY)
    set(QSOFLAT_XLSXWRITER_SONAME ${folder}/${link})
    if(link MATCHES "\\.so\\.[0-9]+$")
      break()
    endif()
  endwhile()
  get_filename_component(QSOFLAT_XLSXWRITER_SONAME ${QSOFLAT_XLSXWRITER_SONAME} NAME)
  add_library(qsoflat::xlsxwriter_headers INTERFACE IMPORTED)
  set_target_properties(qsoflat::xlsxwriter_headers PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${XLSXWRITER_INCLUDE_DIR}
    INTERFACE_COMPILE_DEFINITIONS
      QSOFLAT_XLSXWRITER_SONAME="${QSOFLAT_XLSXWRITER_SONAME}"
    INTERFACE_LINK_LIBRARIES "${CMAKE_DL_LIBS}")
  # The shared library brings its own zlib and minizip.
  add_library(qsoflat::xlsxwriter UNKNOWN IMPORTED)
  set_target_properties(qsoflat::xlsxwriter PROPERTIES
    IMPORTED_LOCATION ${XLSXWRITER_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${XLSXWRITER_INCLUDE_DIR})
  return()
endif()

enable_language(C)

# The static zlib by its file name, since a plain search finds the import
# library of zlib1.dll first.
find_path(ZLIB_STATIC_INCLUDE_DIR zlib.h)
find_library(ZLIB_STATIC_LIBRARY NAMES libz.a)
if(NOT ZLIB_STATIC_INCLUDE_DIR OR NOT ZLIB_STATIC_LIBRARY)
  message(FATAL_ERROR
    "The Windows programs link zlib statically, and no static zlib for "
    "${CMAKE_SYSTEM_PROCESSOR} was found. Install it (on Debian: apt-get "
    "install libz-mingw-w64-dev).")
endif()

# A folder that already holds the unpacked source spares the fetch, for a
# machine without the network or without deb-src.
set(QSOFLAT_XLSXWRITER_SOURCE "" CACHE PATH
    "Unpacked source of libxlsxwriter ${QSOFLAT_XLSXWRITER_VERSION} for the Windows build (fetched with apt-get source when empty)")
set(source ${QSOFLAT_XLSXWRITER_SOURCE})
if(NOT source)
  set(fetched ${PROJECT_BINARY_DIR}/libxlsxwriter-source)
  set(source ${fetched}/libxlsxwriter-${QSOFLAT_XLSXWRITER_VERSION})
endif()
if(NOT EXISTS ${source}/include/xlsxwriter.h AND NOT QSOFLAT_XLSXWRITER_SOURCE)
  set(apt_source "apt-get source libxlsxwriter")
  find_program(APT_GET apt-get)
  find_program(DPKG_SOURCE dpkg-source)
  if(NOT APT_GET OR NOT DPKG_SOURCE)
    message(FATAL_ERROR
      "The Windows programs build libxlsxwriter from Debian's source package "
      "(${apt_source}), which needs apt-get and dpkg-source. Install dpkg-dev "
      "(apt-get install dpkg-dev), or give the unpacked source of "
      "libxlsxwriter ${QSOFLAT_XLSXWRITER_VERSION} as "
      "-DQSOFLAT_XLSXWRITER_SOURCE=DIR.")
  endif()
  file(REMOVE_RECURSE ${fetched})
  file(MAKE_DIRECTORY ${fetched})
  message(STATUS "Fetching libxlsxwriter's source: ${apt_source}")
  execute_process(COMMAND ${APT_GET} source libxlsxwriter
                  WORKING_DIRECTORY ${fetched}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR
      "${apt_source} failed:\n${out}\n"
      "It needs a deb-src entry beside the deb one in the apt sources (in "
      "/etc/apt/sources.list.d/debian.sources, \"Types: deb deb-src\"; in "
      "/etc/apt/sources.list, a deb-src line), then apt-get update. Or give "
      "the unpacked source of libxlsxwriter ${QSOFLAT_XLSXWRITER_VERSION} as "
      "-DQSOFLAT_XLSXWRITER_SOURCE=DIR.")
  endif()
  if(NOT EXISTS ${source}/include/xlsxwriter.h)
    file(GLOB came RELATIVE ${fetched} ${fetched}/*)
    message(FATAL_ERROR
      "${apt_source} gave [${came}], not libxlsxwriter-${QSOFLAT_XLSXWRITER_VERSION}, "
      "the version that the Linux build links. Give that version's unpacked "
      "source as -DQSOFLAT_XLSXWRITER_SOURCE=DIR.")
  endif()
endif()
if(NOT EXISTS ${source}/include/xlsxwriter.h)
  message(FATAL_ERROR "${source} holds no libxlsxwriter source (include/xlsxwriter.h)")
endif()

# The library's own sources and the minizip, tmpfileplus and md5 it carries,
# as its CMakeLists.txt takes them when built alone.
file(GLOB xlsxwriter_sources ${source}/src/*.c)
list(APPEND xlsxwriter_sources
     ${source}/third_party/minizip/ioapi.c ${source}/third_party/minizip/zip.c
     ${source}/third_party/tmpfileplus/tmpfileplus.c
     ${source}/third_party/md5/md5.c)
# Built with mingw, the library opens its files and temporary files by
# narrow name, in the ANSI code page. Each such call is sent to
# cmake/xlsxwriter/utf8_names.cc, which takes the name as the UTF-8 that every name in
# the program is, and opens the file by its wide name, converted as the
# program converts its own (src/text/utf16.*).
add_library(qsoflat_xlsxwriter STATIC ${xlsxwriter_sources}
            ${CMAKE_CURRENT_LIST_DIR}/utf8_names.cc)
target_include_directories(qsoflat_xlsxwriter SYSTEM PUBLIC ${source}/include)
target_include_directories(qsoflat_xlsxwriter PRIVATE
                           ${source}/include/xlsxwriter ${ZLIB_STATIC_INCLUDE_DIR})
target_compile_definitions(qsoflat_xlsxwriter PRIVATE NOCRYPT NOUNCRYPT)
set_source_files_properties(${xlsxwriter_sources} PROPERTIES
  COMPILE_DEFINITIONS QSOFLAT_UTF8_NAMES_REDIRECT
  COMPILE_OPTIONS "-include;${CMAKE_CURRENT_LIST_DIR}/utf8_names.h;-w")
target_link_libraries(qsoflat_xlsxwriter PUBLIC ${ZLIB_STATIC_LIBRARY})
target_link_libraries(qsoflat_xlsxwriter PRIVATE qsoflat_utf16)
add_library(qsoflat::xlsxwriter ALIAS qsoflat_xlsxwriter)
