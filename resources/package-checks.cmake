# Read by cpack twice: as the project's CPACK_PROJECT_CONFIG_FILE before it builds the
# Debian package, and as a post-build script after, when CPACK_PACKAGE_FILES names
# what it built. Both turn a package that CPack would build quietly wrong into an
# error.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()

if(NOT DEFINED CPACK_PACKAGE_FILES)
    # CPack's own fallback when dpkg-shlibdeps is missing is a package with no
    # Depends at all, which installs and then fails to start. A file without
    # permission to execute is no program (CMP0109).
    cmake_policy(SET CMP0109 NEW)
    find_program(SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
    if(NOT SHLIBDEPS_EXECUTABLE OR NOT EXISTS "${SHLIBDEPS_EXECUTABLE}")
        message(FATAL_ERROR "dpkg-shlibdeps (from dpkg-dev) is missing: without it the package "
            "would declare no dependencies. Install what packaging needs with: sh setup.sh package")
    endif()
    set(CHANGELOG "${CPACK_HV_CHANGELOG}")
    set(VERSION "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
    include("${CMAKE_CURRENT_LIST_DIR}/check-changelog.cmake")
    return()
endif()

# Whatever the reason, a package of a dynamically linked program without a
# dependency on the C library has lost its dependencies.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND dpkg-deb --field "${deb}" Depends
        OUTPUT_VARIABLE depends RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT result EQUAL 0 OR NOT depends MATCHES "(^|, )libc6( |,|$)")
        file(REMOVE "${deb}")
        message(FATAL_ERROR "${deb} has no library dependencies (Depends: '${depends}'); removed it")
    endif()
    message(STATUS "Depends: ${depends}")
endforeach()
