# Helpers shared by every module's CMakeLists.txt.
#
# Sources are collected by glob (CONFIGURE_DEPENDS), so adding a header/source pair to a
# module's folder needs no edit here: one header/source pair per main type, in the
# sub-folder that names its layer.

# tw_add_library(<name> [SHARED] PUBLIC_LIBS ... PRIVATE_LIBS ... DEFINITIONS ...)
function(tw_add_library name)
    cmake_parse_arguments(ARG "SHARED" "" "PUBLIC_LIBS;PRIVATE_LIBS;EXCLUDE;DEFINITIONS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    foreach(pattern IN LISTS ARG_EXCLUDE)
        list(FILTER srcs EXCLUDE REGEX "${pattern}")
    endforeach()
    set(cpp_srcs ${srcs})
    list(FILTER cpp_srcs INCLUDE REGEX "\\.cpp$")
    if(NOT cpp_srcs)
        # A module whose code has not been written yet: headers only.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE ${ARG_PUBLIC_LIBS})
        return()
    endif()
    if(ARG_SHARED)
        add_library(${name} SHARED ${srcs})
    else()
        add_library(${name} STATIC ${srcs})
    endif()
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    target_compile_definitions(${name} PRIVATE ${ARG_DEFINITIONS})
    tw_strict(${name})
endfunction()

# Sanitizer options for every test (builds without the sanitizer ignore them).
# ThreadSanitizer: reports raised inside the uninstrumented Qt and GLib libraries are
# suppressed (their futex locks are invisible to it), and it keeps checking after a test has
# started a process (by default it stops at the first fork of a threaded process).
# AddressSanitizer: a stack frame used after its function returned (a slot capturing a test's
# locals that runs after the test) is reported, not silently read. LeakSanitizer: leaks inside
# Qt PDF's document loader are suppressed (tests/support/lsan.supp), ours are reported.
set(TW_TSAN_ENV
    "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/tsan.supp:die_after_fork=0:second_deadlock_stack=1"
    "ASAN_OPTIONS=detect_stack_use_after_return=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp")

# tw_add_tests(<prefix> LIBS ... [ENV ...])
# One test executable (and one CTest test) per *Test.cpp file below the current folder; the
# targets are listed in the global property TW_TESTS_<prefix>.
function(tw_add_tests prefix)
    cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS;ENV;LABELS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 180)
    endif()
    file(GLOB_RECURSE tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    foreach(test_src IN LISTS tests)
        get_filename_component(test_name ${test_src} NAME_WE)
        set(target ${prefix}_${test_name})
        add_executable(${target} ${test_src})
        target_link_libraries(${target} PRIVATE ${ARG_LIBS} TestSupport
            GTest::gmock Qt6::Test)
        tw_strict(${target})
        add_test(NAME ${target} COMMAND ${target})
        set_property(GLOBAL APPEND PROPERTY TW_TESTS_${prefix} ${target})
        set_tests_properties(${target} PROPERTIES
            TIMEOUT ${ARG_TIMEOUT}
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;TW_SOURCE_DIR=${PROJECT_SOURCE_DIR};${TW_TSAN_ENV};${ARG_ENV}")
        if(ARG_LABELS)
            set_tests_properties(${target} PROPERTIES LABELS "${ARG_LABELS}")
        endif()
    endforeach()
endfunction()
