# Fails when the runtime image grows beyond its budget of BUDGET bytes.
file(SIZE "${IMAGE}" size)
if(size GREATER BUDGET)
    message(FATAL_ERROR "quillset.exe is ${size} bytes; its budget is ${BUDGET}")
endif()
math(EXPR left "${BUDGET} - ${size}")
message("quillset.exe: ${size} bytes, ${left} left in the budget")
