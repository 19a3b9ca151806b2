# The runtime image: no C runtime, own entry point, small by design.
# The 32-bit image may take at most this many bytes (tests/size_guard.cmake).
set(RUNTIME_IMAGE_BUDGET 73728)
file(GLOB RUNTIME_PART_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/support/*.cpp ${CMAKE_SOURCE_DIR}/package/*.cpp
    ${CMAKE_SOURCE_DIR}/script/*.cpp ${CMAKE_SOURCE_DIR}/wizard/*.cpp
    ${CMAKE_SOURCE_DIR}/engine/*.cpp ${CMAKE_SOURCE_DIR}/uninstall/*.cpp
    ${CMAKE_SOURCE_DIR}/environment/*.cpp ${CMAKE_SOURCE_DIR}/startup/*.cpp)
# The dialog templates: compiled apart and packed into one zlib stream, which
# wizard/templates.cpp inflates on first use.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(DIALOG_TEMPLATES_RES ${CMAKE_BINARY_DIR}/templates.res)
set(DIALOG_TEMPLATES_SOURCE ${CMAKE_BINARY_DIR}/dialog_templates.cpp)
add_custom_command(OUTPUT ${DIALOG_TEMPLATES_SOURCE}
    COMMAND ${CMAKE_RC_COMPILER} -O res ${CMAKE_SOURCE_DIR}/resources/templates.rc ${DIALOG_TEMPLATES_RES}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/pack_templates.py ${DIALOG_TEMPLATES_RES}
            ${DIALOG_TEMPLATES_SOURCE}
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/templates.rc ${CMAKE_SOURCE_DIR}/resources/ids.h
            ${CMAKE_SOURCE_DIR}/cmake/pack_templates.py
    VERBATIM)
# One target generates the source for the image and the test library alike.
add_custom_target(dialog_templates DEPENDS ${DIALOG_TEMPLATES_SOURCE})
list(APPEND RUNTIME_PART_SOURCES ${DIALOG_TEMPLATES_SOURCE})
# The pointers of the system functions and their names, which
# support/system_imports.cpp fills in at start, and the import library of
# the few KERNEL32 functions that run before.
set(SYSTEM_IMPORTS_SOURCE ${CMAKE_BINARY_DIR}/system_import_table.cpp)
set(BOOT_IMPORTS_DEF ${CMAKE_BINARY_DIR}/imports/kernel32.def)
set(BOOT_IMPORTS_LIBRARY ${CMAKE_BINARY_DIR}/imports/libkernel32.a)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/imports)
string(REGEX REPLACE "strip$" "dlltool" RUNTIME_DLLTOOL "${CMAKE_STRIP}")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    # The import names lose the stdcall decoration that the symbols keep.
    set(DLLTOOL_OPTIONS -k)
endif()
add_custom_command(OUTPUT ${SYSTEM_IMPORTS_SOURCE} ${BOOT_IMPORTS_LIBRARY}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/pack_imports.py
            ${CMAKE_SOURCE_DIR}/support/system_imports.txt ${CMAKE_SYSTEM_PROCESSOR} ${SYSTEM_IMPORTS_SOURCE}
            ${BOOT_IMPORTS_DEF}
    COMMAND ${RUNTIME_DLLTOOL} ${DLLTOOL_OPTIONS} -d kernel32.def -l libkernel32.a
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/imports
    DEPENDS ${CMAKE_SOURCE_DIR}/support/system_imports.txt ${CMAKE_SOURCE_DIR}/cmake/pack_imports.py
    VERBATIM)
add_custom_target(boot_imports DEPENDS ${SYSTEM_IMPORTS_SOURCE} ${BOOT_IMPORTS_LIBRARY})

# Sources the test executables share; the entry point, the C-runtime
# stand-ins and the lookup of the system functions belong to the image alone
# (the tests import those functions).
set(RUNTIME_SHARED_SOURCES ${RUNTIME_PART_SOURCES})
list(FILTER RUNTIME_SHARED_SOURCES EXCLUDE REGEX "(startup/entry|support/crt_intrinsics|support/system_imports)\\.cpp$")

# -Oz: GCC 12's smallest code. No stack probes: no frame may need one, which
# -Werror=frame-larger-than=4000 enforces (big buffers live on the heap). Win32
# guarantees only 4-byte stack alignment, so asking for more only costs code.
# Constants and statics keep the alignment the ABI asks for: the 32 bytes GCC
# gives larger arrays serve vector loads the runtime never makes, and padded
# the image by some 500 bytes.
set(RUNTIME_COMPILE_OPTIONS -Oz -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections
    -fno-tree-loop-distribute-patterns -fno-stack-protector -fexec-charset=GBK -Wall
    -mno-stack-arg-probe -Werror=frame-larger-than=4000 -malign-data=abi)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    list(APPEND RUNTIME_COMPILE_OPTIONS -mpreferred-stack-boundary=2)
endif()

set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/quillset.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/quillset.manifest;${CMAKE_SOURCE_DIR}/resources/quillset-amd64.manifest;${CMAKE_SOURCE_DIR}/resources/quillset.ico")
add_executable(quillset WIN32 ${RUNTIME_PART_SOURCES} ${SYSTEM_IMPORTS_SOURCE} ${CMAKE_SOURCE_DIR}/resources/quillset.rc)
add_dependencies(quillset dialog_templates boot_imports)
# Link-time optimisation of the runtime's own code (zlib grows under it and is
# left out). memcpy and memset stay ordinary objects: the code generator calls
# them by name after the LTO pass has decided which symbols are used.
target_compile_options(quillset PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${RUNTIME_COMPILE_OPTIONS} -flto>)
# The pointers that the import table defines in assembly must reach the
# linker as ordinary symbols, which the LTO pass does not promise.
set_source_files_properties(${CMAKE_SOURCE_DIR}/support/crt_intrinsics.cpp ${SYSTEM_IMPORTS_SOURCE}
    PROPERTIES COMPILE_OPTIONS -fno-lto)
target_include_directories(quillset PRIVATE ${ZLIB_SOURCE_DIR})
set_target_properties(quillset PROPERTIES LINKER_LANGUAGE CXX)
# The 32-bit linker sees the stdcall-decorated name of the entry point.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(RUNTIME_ENTRY _Start@0)
    # Loaded at its preferred base, the image needs no relocations: leaving
    # them out saves about 2 KB. (64-bit Wine refuses a 64-bit image without
    # them, so the twin keeps its own, and the linker's own section layout.)
    # The linker script merges six sections into four. The image is linked
    # with its line tables and stripped afterwards, so that the size report
    # can charge every byte to a source file; -g changes no instruction.
    target_compile_options(quillset PRIVATE -g)
    target_link_options(quillset PRIVATE -g -Wl,--disable-dynamicbase,--disable-reloc-section
        -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/runtime-i686.ld)
    set_target_properties(quillset PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/runtime-i686.ld)
else()
    set(RUNTIME_ENTRY Start)
    target_link_options(quillset PRIVATE -s)
endif()
# --fatal-warnings: an entry point that the link lost is an error, not a warning.
target_link_options(quillset PRIVATE ${RUNTIME_COMPILE_OPTIONS} -flto -flto-partition=one -fuse-linker-plugin -nostdlib -nostartfiles
    -Wl,-e,${RUNTIME_ENTRY} -Wl,--gc-sections -Wl,--fatal-warnings
    -Wl,-Map,${CMAKE_BINARY_DIR}/quillset.map -Wl,--subsystem,windows)
# Eleven KERNEL32 functions are imported: the entry point looks up the other
# system functions (support/system_imports.cpp), and step 0 loads the common
# controls, after restricting the library search.
target_link_libraries(quillset PRIVATE zinflate ${BOOT_IMPORTS_LIBRARY} gcc)
# The size that counts is the 32-bit image's; the twin is not reported.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    string(REGEX REPLACE "strip$" "" RUNTIME_TOOL_PREFIX "${CMAKE_STRIP}")
    set(symbols ${CMAKE_BINARY_DIR}/quillset-symbols.exe)
    add_custom_command(TARGET quillset POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quillset> ${symbols}
        COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:quillset>
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/size_report.py $<TARGET_FILE:quillset> ${symbols}
                ${CMAKE_SOURCE_DIR} ${ZLIB_SOURCE_DIR} ${RUNTIME_TOOL_PREFIX} ${RUNTIME_IMAGE_BUDGET}
        VERBATIM)
endif()
