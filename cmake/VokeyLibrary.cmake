# One static library per source folder; every .cpp in the folder belongs to it.
# Files ending in _posix.cpp are the platform layer and are built like the rest.
function(vokey_library name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
         ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
    if(NOT sources MATCHES "\\.cpp")
        # A folder whose first sources have not landed yet: headers only.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
        target_link_libraries(${name} INTERFACE ${ARG_LIBS})
        return()
    endif()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_compile_options(${name} PRIVATE -Wall -Wextra)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    if(VOKEY_BUILD_FUZZ)
        # Coverage feedback for the fuzz targets that link these libraries.
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endfunction()

# Registers a QtTest executable so that it passes only with QtTest's totals line showing
# 0 failures and exit status 0; ending early with status 0 is a failure.
function(vokey_add_qtest test)
    add_test(NAME ${test} COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/qtest-totals.sh
                                  $<TARGET_FILE:${test}> ${ARGN})
endfunction()

# One QtTest executable per tst_*.cpp file in the calling folder, registered with CTest.
# Extra sources shared by the folder's tests can be given with SUPPORT: they are compiled
# once, into vokey_<folder>_testsupport, which the folder's tests link.
function(vokey_tests)
    cmake_parse_arguments(ARG "" "LABEL" "LIBS;SUPPORT;ENV" ${ARGN})
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
    if(ARG_SUPPORT)
        get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
        set(support vokey_${folder}_testsupport)
        add_library(${support} STATIC ${ARG_SUPPORT})
        target_link_libraries(${support} PUBLIC Qt6::Test ${ARG_LIBS})
        target_include_directories(${support} PUBLIC ${CMAKE_SOURCE_DIR}/tests)
        target_compile_definitions(${support} PRIVATE
            VOKEY_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
            VOKEY_BINARY_DIR="${CMAKE_BINARY_DIR}")
        list(APPEND ARG_LIBS ${support})
    endif()
    foreach(src ${tests})
        get_filename_component(test ${src} NAME_WE)
        add_executable(${test} ${src})
        if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=thread")
            target_sources(${test} PRIVATE ${CMAKE_SOURCE_DIR}/tests/TsanClone.cpp)
        endif()
        target_link_libraries(${test} PRIVATE Qt6::Test ${ARG_LIBS})
        target_include_directories(${test} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
        target_compile_definitions(${test} PRIVATE
            VOKEY_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
            VOKEY_BINARY_DIR="${CMAKE_BINARY_DIR}")
        vokey_add_qtest(${test})
        set_tests_properties(${test} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENV}" TIMEOUT 300)
        if(ARG_LABEL)
            set_tests_properties(${test} PROPERTIES LABELS ${ARG_LABEL})
        endif()
    endforeach()
endfunction()

# Fails the configuration when one of the targets links the widget library, directly or
# through the libraries it links: the headless station is made of these alone.
function(vokey_require_no_widgets)
    foreach(target ${ARGN})
        set(pending ${target})
        set(seen "")
        while(pending)
            list(POP_FRONT pending library)
            if(library IN_LIST seen OR library MATCHES "^\\$<")
                continue()
            endif()
            list(APPEND seen ${library})
            if(library MATCHES "^Qt6?::(Widgets|Gui)$")
                message(FATAL_ERROR "${target} links ${library}; it must run without a display")
            endif()
            if(TARGET ${library})
                get_target_property(links ${library} INTERFACE_LINK_LIBRARIES)
                if(links)
                    list(APPEND pending ${links})
                endif()
                get_target_property(type ${library} TYPE)
                get_target_property(imported ${library} IMPORTED)
                if(NOT type STREQUAL "INTERFACE_LIBRARY" AND NOT imported)
                    get_target_property(links ${library} LINK_LIBRARIES)
                    if(links)
                        list(APPEND pending ${links})
                    endif()
                endif()
            endif()
        endwhile()
    endforeach()
endfunction()
