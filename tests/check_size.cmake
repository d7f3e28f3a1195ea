# Fails when the file EXE is LIMIT bytes or more: cmake -DEXE=... -DLIMIT=... -P check_size.cmake
file(SIZE "${EXE}" bytes)
if(NOT bytes LESS LIMIT)
  message(FATAL_ERROR "${EXE} is ${bytes} bytes, not under ${LIMIT}")
endif()
message(STATUS "${EXE}: ${bytes} bytes, under ${LIMIT}")
