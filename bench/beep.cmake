# beep-tone: plays the two beeps for bench/beep_proof.sh.
add_executable(beep-tone ${CMAKE_CURRENT_LIST_DIR}/beep_tone.cpp)
target_link_libraries(beep-tone PRIVATE velqa_support)
