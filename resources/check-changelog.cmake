# Checks that the newest entry of the Debian changelog is for the package being
# built: cmake -DCHANGELOG=file -DVERSION=version-revision -P check-changelog.cmake
# (also included by package-checks.cmake with the two variables set).
file(READ "${CHANGELOG}" _hv_text)
string(REGEX MATCH "^[^\n]*" _hv_first "${_hv_text}")
if(NOT _hv_first MATCHES "^hivarnisse \\(([^)]+)\\) [a-z-]+; urgency=[a-z]+$")
    message(FATAL_ERROR "${CHANGELOG}: the first line is not a changelog entry of hivarnisse: ${_hv_first}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "${CHANGELOG}: the newest entry is for ${CMAKE_MATCH_1}, the package is ${VERSION}: "
        "add an entry for ${VERSION} at the top")
endif()
