# speexdsp's resampler as the target kestrune_speexdsp.
#
# Native builds link Debian's libspeexdsp-dev, statically so the tests see the library's own
# allocations. The Windows builds compile the resampler from Debian's source package of the same
# version, which scripts/install-deps.sh unpacks into KESTRUNE_SPEEXDSP_SOURCE.

if(WIN32)
  set(KESTRUNE_SPEEXDSP_SOURCE /usr/local/src/kestrune-deps/speexdsp CACHE PATH
      "Unpacked speexdsp source tree (scripts/install-deps.sh puts it there)")
  set(resample_c ${KESTRUNE_SPEEXDSP_SOURCE}/libspeexdsp/resample.c)
  if(NOT EXISTS ${resample_c})
    message(FATAL_ERROR "speexdsp sources not found in ${KESTRUNE_SPEEXDSP_SOURCE}: "
                        "run scripts/install-deps.sh or set KESTRUNE_SPEEXDSP_SOURCE")
  endif()
  enable_language(C)
  add_library(kestrune_speexdsp STATIC ${resample_c})
  target_include_directories(kestrune_speexdsp SYSTEM PUBLIC ${KESTRUNE_SPEEXDSP_SOURCE}/include)
  # What the library's configure script would decide for a float build without a config.h.
  target_compile_definitions(kestrune_speexdsp PRIVATE FLOATING_POINT EXPORT=)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    # SSE2 is part of every x86-64 processor; the x86 build makes no such assumption.
    target_compile_definitions(kestrune_speexdsp PRIVATE USE_SSE USE_SSE2)
  endif()
  # Third-party code: built as its authors wrote it, outside our warning policy.
  target_compile_options(kestrune_speexdsp PRIVATE -w)
else()
  find_path(SPEEXDSP_INCLUDE_DIR speex/speex_resampler.h)
  find_library(SPEEXDSP_LIBRARY NAMES libspeexdsp.a speexdsp)
  if(NOT SPEEXDSP_INCLUDE_DIR OR NOT SPEEXDSP_LIBRARY)
    message(FATAL_ERROR "libspeexdsp-dev not found: run scripts/install-deps.sh")
  endif()
  add_library(kestrune_speexdsp INTERFACE)
  target_include_directories(kestrune_speexdsp SYSTEM INTERFACE ${SPEEXDSP_INCLUDE_DIR})
  target_link_libraries(kestrune_speexdsp INTERFACE ${SPEEXDSP_LIBRARY} m)
endif()
