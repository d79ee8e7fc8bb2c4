# zlib, libdeflate, brotli's decoder and zstd as imported targets drovan::zlib, drovan::deflate,
# drovan::brotlidec and drovan::zstd; natively also the encoders the tests use, drovan::brotlienc. Natively they
# come from Debian's -dev packages; the Windows build links zlib from libz-mingw-w64-dev and libdeflate and the
# brotli and zstd decoders that tools/build-decoders.sh builds.
function(drovan_import_library target header library)
  find_path(DROVAN_${target}_INCLUDE_DIR ${header} REQUIRED)
  find_library(DROVAN_${target}_LIBRARY NAMES ${library} REQUIRED)
  add_library(drovan::${target} UNKNOWN IMPORTED)
  set_target_properties(drovan::${target} PROPERTIES
    IMPORTED_LOCATION "${DROVAN_${target}_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${DROVAN_${target}_INCLUDE_DIR}")
endfunction()

# A function, so that the search settings for the Windows build stay inside it.
function(drovan_import_decoders)
  if(WIN32)
    set(DROVAN_DECODERS_PREFIX "${PROJECT_SOURCE_DIR}/build/deps/mingw" CACHE PATH
      "Folder with include/ and lib/ of the decoders built by tools/build-decoders.sh")
    if(EXISTS "${DROVAN_DECODERS_PREFIX}/lib")
      list(APPEND CMAKE_FIND_ROOT_PATH "${DROVAN_DECODERS_PREFIX}")
      list(APPEND CMAKE_PREFIX_PATH "${DROVAN_DECODERS_PREFIX}")
    elseif(CMAKE_CROSSCOMPILING)
      message(FATAL_ERROR "No decoders in ${DROVAN_DECODERS_PREFIX}: run tools/build-decoders.sh")
    endif()
    if(MINGW)
      # Static archives only: the programs import nothing but system DLLs.
      set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
    endif()
    drovan_import_library(zlib zlib.h z)
    drovan_import_library(deflate libdeflate.h deflate)
    drovan_import_library(brotlidec brotli/decode.h brotlidec)
    drovan_import_library(zstd zstd.h zstd)
  else()
    drovan_import_library(zlib zlib.h z)
    drovan_import_library(deflate libdeflate.h deflate)
    drovan_import_library(brotlidec brotli/decode.h brotlidec)
    drovan_import_library(brotlienc brotli/encode.h brotlienc)
    drovan_import_library(zstd zstd.h zstd)
  endif()
endfunction()
drovan_import_decoders()
