# Installs the build into a scratch prefix as "cmake --install --strip" does and
# checks that each file lands where Debian and AppStream look for it:
# cmake -DBUILD_DIR=build -DSTAGE=dir -DAPP_ID=id [-DAPPSTREAMCLI=path] [-DMAN=path]
#       -P check-install.cmake
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${STAGE}/usr" --strip
    OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed")
endif()

set(root "${STAGE}/usr")
set(expected
    bin/hivarnisse
    share/applications/${APP_ID}.desktop
    share/metainfo/${APP_ID}.metainfo.xml
    share/doc/hivarnisse/copyright
    share/doc/hivarnisse/changelog.Debian.gz)
foreach(size 16 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/hivarnisse.png)
endforeach()
set(failures "")
foreach(f IN LISTS expected)
    if(NOT EXISTS "${root}/${f}")
        string(APPEND failures "missing: ${f}\n")
    endif()
endforeach()

# Every program on the path has a manual page, and --strip leaves it no symbol
# table and no debugging information.
file(GLOB programs RELATIVE "${root}/bin" "${root}/bin/*")
foreach(program IN LISTS programs)
    if(NOT EXISTS "${root}/share/man/man1/${program}.1.gz")
        string(APPEND failures "bin/${program} has no manual page share/man/man1/${program}.1.gz\n")
    endif()
    execute_process(COMMAND readelf --section-headers "${root}/bin/${program}" OUTPUT_VARIABLE sections)
    if(sections MATCHES "\\.symtab|\\.debug_")
        string(APPEND failures "bin/${program} is not stripped\n")
    endif()
endforeach()

# gzip -n -9: no file name (FLG 0), no time stamp (MTIME 0), best compression (XFL 2).
file(GLOB_RECURSE compressed RELATIVE "${root}" "${root}/share/man/*" "${root}/share/doc/*.gz")
foreach(f IN LISTS compressed)
    file(READ "${root}/${f}" header LIMIT 9 HEX)
    if(NOT header STREQUAL "1f8b08000000000002")
        string(APPEND failures "${f}: gzip header ${header}, not that of gzip -n -9\n")
    endif()
endforeach()

# Manual pages as lintian formats them: any warning from groff fails.
if(MAN)
    file(GLOB_RECURSE pages "${root}/share/man/*")
    foreach(PAGE IN LISTS pages)
        execute_process(
            COMMAND "${CMAKE_COMMAND}" -E env LC_ALL=C.UTF-8 MANWIDTH=80
                    "${MAN}" --warnings -E UTF-8 -l -Tutf8 -Z "${PAGE}"
            OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE result)
        if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
            string(APPEND failures "${PAGE}: man exited with ${result}:\n${warnings}")
        endif()
    endforeach()
endif()

if(APPSTREAMCLI)
    # Checks the metadata against the installed desktop entry and icon too.
    execute_process(COMMAND "${APPSTREAMCLI}" validate-tree --no-net "${STAGE}"
        OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        string(APPEND failures "appstreamcli validate-tree:\n${out}")
    endif()
endif()

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
