# Debian package of the program: "make package" (cpack -G DEB in the build directory,
# then lintian). Included at the very end of the top-level CMakeLists.txt, after every
# install rule.

# Debian's own packaging tools take the maintainer from DEBFULLNAME and DEBEMAIL;
# here it is this cache variable, by default the project's developers' address.
set(HV_PACKAGE_MAINTAINER "Hi Varnisse developers <developers@hivarnisse.org>" CACHE STRING
    "Maintainer of the Debian package, as \"Name <address>\"")
set(HV_HOMEPAGE "https://hivarnisse.org/")

# A zero fourth component only lengthens the dpkg version; keep it when it counts.
set(_hv_package_version "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
if(PROJECT_VERSION_TWEAK)
    string(APPEND _hv_package_version ".${PROJECT_VERSION_TWEAK}")
endif()
# Debian revision: raise it for a new package of the same program version.
set(_hv_package_release 1)

# Debian's place for the licence and the package's history; installed by
# "cmake --install" too, since the licence goes wherever the program goes.
set(_hv_docdir "${CMAKE_INSTALL_DATADIR}/doc/hivarnisse")
set(_hv_changelog "${PROJECT_SOURCE_DIR}/resources/changelog.Debian")
install(FILES "${PROJECT_SOURCE_DIR}/resources/copyright" DESTINATION "${_hv_docdir}")
hv_gzip_file("${_hv_changelog}" "${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz")
add_custom_target(hv_changelog ALL DEPENDS "${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz")
install(FILES "${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz" DESTINATION "${_hv_docdir}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hivarnisse)
set(CPACK_PACKAGE_VENDOR "Hi Varnisse developers")
set(CPACK_PACKAGE_VERSION "${_hv_package_version}")
set(CPACK_PACKAGE_VERSION_MAJOR "${PROJECT_VERSION_MAJOR}")
set(CPACK_PACKAGE_VERSION_MINOR "${PROJECT_VERSION_MINOR}")
set(CPACK_PACKAGE_VERSION_PATCH "${PROJECT_VERSION_PATCH}")
set(CPACK_PACKAGE_CONTACT "${HV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pressure calculator for high-pressure X-ray diffraction")
set(CPACK_PACKAGE_DESCRIPTION
"Hi Varnisse turns the measured lattice spacing of a NaCl or CsCl pressure
standard, as seen in high-pressure X-ray diffraction, into a pressure.
It is a small desktop calculator with a Qt Widgets window, a command-line
program (hivarnisse-calc) for whole pressure series, fits of several
reflections with error bars and the peak positions expected at a pressure,
and a Python module (hivarnisse) for numpy arrays, all giving the same number.")
# The package's binaries are stripped like those of "cmake --install --strip".
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME hivarnisse)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${_hv_package_release})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${HV_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies (Qt and the C++ runtime) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps sees libraries only: the Python module also needs its interpreter and numpy.
if(TARGET hivarnisse_python)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${HV_PYTHON_DEBIAN_DEPENDS}")
endif()
# The text boxes' stand-in for "MS Sans Serif".
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation)

# Without dpkg-shlibdeps CPack quietly builds a package with no dependencies: the
# checks before and after the build turn that into an error. They read these.
set(CPACK_HV_CHANGELOG "${_hv_changelog}")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/package-checks.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/package-checks.cmake")

include(CPack)

# The changelog must describe the package being built.
if(HV_TESTS)
    add_test(NAME package_changelog_version
        COMMAND "${CMAKE_COMMAND}" "-DCHANGELOG=${_hv_changelog}"
                "-DVERSION=${_hv_package_version}-${_hv_package_release}"
                -P "${CMAKE_CURRENT_LIST_DIR}/check-changelog.cmake")
endif()
