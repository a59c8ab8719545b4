# The Debian package: cpack -G DEB in the build folder. Its dependencies are
# found by dpkg-shlibdeps (from dpkg-dev) in the libraries the programs link.
# Configure with -DCMAKE_INSTALL_PREFIX=/usr so that the data folder built into
# chronelle is the package's own (it also looks beside its bin folder).
set(CHRONELLE_MAINTAINER "Chronelle developers <chronelle@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME chronelle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Chronelle")
set(CPACK_PACKAGE_CONTACT ${CHRONELLE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shift the subtitles of SubRip files in place")
set(CPACK_PACKAGE_DESCRIPTION
  "Chronelle moves every subtitle of a SubRip (.srt) file earlier or later by
one offset, in place: each timing line is rewritten where it stands, nothing
else in the file changes and its length stays the same. No copy is made.
It comes as a small window in French (chronelle, GTK+ 2), which the desktop
offers to open SubRip files with, and as a command-line tool for scripts
and batches (chronelle-shift).")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# A source archive holds the sources, not the build folders.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
