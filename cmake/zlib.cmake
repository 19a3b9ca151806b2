# zlib from Debian's source package: inflate only for the runtime, through the
# callback interface (infback.c), the whole library for the test builds (the
# package writer deflates). No Adler-32: the builder writes no trailer, and
# the self-check has its own.
set(ZLIB_INFLATE_SOURCES infback.c inftrees.c inffast.c zutil.c)
list(TRANSFORM ZLIB_INFLATE_SOURCES PREPEND "${ZLIB_SOURCE_DIR}/")
add_library(zinflate STATIC ${ZLIB_INFLATE_SOURCES})
target_include_directories(zinflate PUBLIC "${ZLIB_SOURCE_DIR}")
# MY_ZCALLOC: the runtime supplies zcalloc/zcfree on its private heap.
# BUILDFIXED: the fixed Huffman tables are computed on first use into zeroed
# statics instead of being stored, which saves about 1.5 KB of the image. The
# runtime inflates on one thread at a time (the script at start-up, files in
# the install worker), so the unguarded first use is safe.
target_compile_definitions(zinflate PRIVATE NO_GZIP MY_ZCALLOC BUILDFIXED)
target_compile_options(zinflate PRIVATE -Oz -ffunction-sections -fno-asynchronous-unwind-tables -fno-unwind-tables
    -mno-stack-arg-probe -Werror=frame-larger-than=4000 -g)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    target_compile_options(zinflate PRIVATE -mpreferred-stack-boundary=2)
endif()
# inflate_fast decodes nearly every byte of a package's files: built for
# speed it costs about 320 bytes and inflates about a tenth faster under Wine.
set_source_files_properties(${ZLIB_SOURCE_DIR}/inffast.c TARGET_DIRECTORY zinflate PROPERTIES COMPILE_OPTIONS -O2)

set(ZLIB_FULL_SOURCES adler32.c compress.c crc32.c deflate.c infback.c inffast.c inflate.c
    inftrees.c trees.c uncompr.c zutil.c)
list(TRANSFORM ZLIB_FULL_SOURCES PREPEND "${ZLIB_SOURCE_DIR}/")
add_library(zfull STATIC ${ZLIB_FULL_SOURCES})
target_include_directories(zfull PUBLIC "${ZLIB_SOURCE_DIR}")
# The test builds link the runtime, whose zcalloc/zcfree serve both libraries.
target_compile_definitions(zfull PRIVATE MY_ZCALLOC)
