# The runtime image: no C runtime, own entry point, sized for a 16-bit offset.
file(GLOB RUNTIME_PART_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/support/*.cpp ${CMAKE_SOURCE_DIR}/package/*.cpp
    ${CMAKE_SOURCE_DIR}/script/*.cpp ${CMAKE_SOURCE_DIR}/wizard/*.cpp
    ${CMAKE_SOURCE_DIR}/engine/*.cpp ${CMAKE_SOURCE_DIR}/uninstall/*.cpp
    ${CMAKE_SOURCE_DIR}/environment/*.cpp ${CMAKE_SOURCE_DIR}/startup/*.cpp)
# Sources the test executables share; the entry point and the C-runtime
# stand-ins belong to the image alone.
set(RUNTIME_SHARED_SOURCES ${RUNTIME_PART_SOURCES})
list(FILTER RUNTIME_SHARED_SOURCES EXCLUDE REGEX "(startup/entry|support/crt_intrinsics)\\.cpp$")

set(RUNTIME_COMPILE_OPTIONS -Os -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections
    -fno-tree-loop-distribute-patterns -fno-stack-protector -fexec-charset=GBK -Wall)

set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/quillset.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/quillset.manifest;${CMAKE_SOURCE_DIR}/resources/quillset.ico")
add_executable(quillset WIN32 ${RUNTIME_PART_SOURCES} ${CMAKE_SOURCE_DIR}/resources/quillset.rc)
target_compile_options(quillset PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${RUNTIME_COMPILE_OPTIONS}>)
target_include_directories(quillset PRIVATE ${ZLIB_SOURCE_DIR})
set_target_properties(quillset PROPERTIES LINKER_LANGUAGE CXX)
# The 32-bit linker sees the stdcall-decorated name of the entry point.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(RUNTIME_ENTRY _Start@0)
    # Loaded at its preferred base, the image needs no relocations: leaving
    # them out saves about 2 KB. (64-bit Wine refuses a 64-bit image without
    # them, so the twin keeps its own.)
    target_link_options(quillset PRIVATE -Wl,--disable-dynamicbase,--disable-reloc-section)
else()
    set(RUNTIME_ENTRY Start)
endif()
target_link_options(quillset PRIVATE -nostdlib -nostartfiles -Wl,-e,${RUNTIME_ENTRY} -Wl,--gc-sections -s
    -Wl,-Map,${CMAKE_BINARY_DIR}/quillset.map -Wl,--subsystem,windows)
target_link_libraries(quillset PRIVATE zinflate kernel32 user32 gdi32 advapi32 shell32 ole32 comctl32 gcc)
# The size that counts is the 32-bit image's; the twin is not reported.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    add_custom_command(TARGET quillset POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:quillset> -DMAP=${CMAKE_BINARY_DIR}/quillset.map
                -P ${CMAKE_SOURCE_DIR}/cmake/size-report.cmake
        VERBATIM)
endif()
