# Fails when the runtime image reaches 65,536 bytes: the package offset is 16 bits.
file(SIZE "${IMAGE}" size)
if(size GREATER_EQUAL 65536)
    message(FATAL_ERROR "quillset.exe is ${size} bytes; it must stay below 65,536")
endif()
math(EXPR left "65535 - ${size}")
message("quillset.exe: ${size} bytes, ${left} left")
