# Debian package of the program: "cpack -G DEB" in the build directory.
# Included at the very end of the top-level CMakeLists.txt, after every install rule.

set(HV_PACKAGE_MAINTAINER "Hi Varnisse developers <maintainer@hivarnisse.invalid>" CACHE STRING
    "Maintainer of the Debian package, as \"Name <address>\"")

# A zero fourth component only lengthens the dpkg version; keep it when it counts.
set(_hv_package_version "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
if(PROJECT_VERSION_TWEAK)
    string(APPEND _hv_package_version ".${PROJECT_VERSION_TWEAK}")
endif()

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
It is a small desktop calculator with a Qt Widgets window.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME hivarnisse)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies (Qt and the C++ runtime) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The text boxes' stand-in for "MS Sans Serif".
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation)

include(CPack)
