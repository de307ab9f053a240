# How the programs and their manual pages are installed. Included by the top-level
# CMakeLists.txt before any subdirectory, so every program's directory can call
#
#   hv_install_program(hivarnisse MAN_PAGE "${PROJECT_SOURCE_DIR}/resources/hivarnisse.1")
#       installs the program and a hand-written manual page;
#   hv_install_program(hivarnisse-calc HELP2MAN NAME "one line for the NAME section")
#       installs the program and a page that help2man makes from its --help and
#       --version output at build time (so not in a cross build).
#
# Pages are installed gzipped with "gzip -n -9", as Debian wants them: no name or
# time stamp in the header, so the package builds the same twice.

include(GNUInstallDirs)

# Compresses `source` into `output` (which ends in .gz) at build time, as Debian
# wants documentation compressed.
function(hv_gzip_file source output)
    cmake_path(REMOVE_EXTENSION output LAST_ONLY OUTPUT_VARIABLE plain)
    add_custom_command(
        OUTPUT "${output}"
        COMMAND "${CMAKE_COMMAND}" -E copy "${source}" "${plain}"
        COMMAND gzip -n -9 -f "${plain}"
        DEPENDS "${source}"
        COMMENT "Compressing ${output}"
        VERBATIM)
endfunction()

# Installs `page` (a roff file named NAME.SECTION) gzipped into its man section.
# `target` names the custom target that builds the compressed page.
function(hv_install_man_page target page)
    cmake_path(GET page FILENAME name)
    cmake_path(GET page EXTENSION LAST_ONLY section)
    string(SUBSTRING "${section}" 1 -1 section)
    if(NOT section MATCHES "^[1-9]")
        message(FATAL_ERROR "hv_install_man_page: ${page} is not named NAME.SECTION")
    endif()
    set(gz "${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz")
    hv_gzip_file("${page}" "${gz}")
    add_custom_target(${target} ALL DEPENDS "${gz}")
    install(FILES "${gz}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}")
endfunction()

# hv_install_program(target MAN_PAGE file)
# hv_install_program(target HELP2MAN NAME "description" [SECTION n])
function(hv_install_program target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "HELP2MAN" "MAN_PAGE;NAME;SECTION" "")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "hv_install_program: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

    # Debian wants a manual page for every program on the path.
    if(arg_MAN_PAGE)
        hv_install_man_page(${target}_man "${arg_MAN_PAGE}")
    elseif(arg_HELP2MAN)
        if(NOT arg_NAME)
            message(FATAL_ERROR "hv_install_program(${target} HELP2MAN) needs NAME: the page's one-line description")
        endif()
        if(NOT arg_SECTION)
            set(arg_SECTION 1)
        endif()
        find_program(HV_HELP2MAN help2man)
        if(NOT HV_HELP2MAN)
            message(FATAL_ERROR "help2man, which writes the manual page of ${target}, is missing: sh setup.sh")
        endif()
        get_target_property(program ${target} OUTPUT_NAME)
        if(NOT program)
            set(program ${target})
        endif()
        set(page "${CMAKE_CURRENT_BINARY_DIR}/help2man/${program}.${arg_SECTION}")
        add_custom_command(
            OUTPUT "${page}"
            COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/help2man"
            COMMAND "${HV_HELP2MAN}" --no-info "--section=${arg_SECTION}" "--name=${arg_NAME}"
                    "--output=${page}" "$<TARGET_FILE:${target}>"
            DEPENDS ${target}
            COMMENT "Writing the manual page of ${program} from its --help"
            VERBATIM)
        hv_install_man_page(${target}_man "${page}")
    else()
        message(FATAL_ERROR "hv_install_program(${target}) needs MAN_PAGE or HELP2MAN")
    endif()
endfunction()
