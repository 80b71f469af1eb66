# velqa_add_test(<name> SOURCES <files...> LIBS <targets...> [GUI] [TIMEOUT <s>])
#
# One QtTest executable per unit, registered with CTest. Every test runs headless on the
# offscreen platform; the tests bind their servers to port 0, so they may run in parallel.
function(velqa_add_test name)
    cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    add_test(NAME ${name} COMMAND ${name})
    # Each test program keeps its own journal in the build folder, never in the user's data
    # folder; tests of the journal itself choose theirs.
    set(env "QT_QPA_PLATFORM=offscreen" "QT_LOGGING_RULES=qt.qpa.*=false"
        "VELQA_JOURNAL=sqlite:${CMAKE_CURRENT_BINARY_DIR}/journal-${name}.sqlite")
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
