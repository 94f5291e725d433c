# Script mode (cmake -P): writes OUT, one #include line for each header of
# HEADERS ("|"-separated include names) and for every generated header in
# GEN/lomari.  The file is rewritten only when its content changes.
string(REPLACE "|" ";" headers "${HEADERS}")
file(GLOB generated RELATIVE ${GEN} ${GEN}/lomari/*.h)
set(text "")
foreach(h IN LISTS headers generated)
  string(APPEND text "#include \"${h}\"\n")
endforeach()
file(WRITE ${OUT}.tmp "${text}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.tmp ${OUT})
