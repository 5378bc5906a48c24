# Writes the Windows Package Manager manifest set (version, default locale,
# installer) for the finished setup file. Run as a script:
#   cmake -DSETUP=<file> -DOUT_DIR=<dir> -DVERSION_HEADER=<version.h>
#         -DPACKAGE_ID=<Publisher.Package> -DINSTALLER_URL=<https://...>
#         -P winget-manifest.cmake
# The names, publisher and version come from version.h, the same text the
# version resources and the uninstall entry carry, so the package manager
# can match the installed program to the package.
foreach(var SETUP OUT_DIR VERSION_HEADER PACKAGE_ID INSTALLER_URL)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "winget-manifest: ${var} is not given")
  endif()
endforeach()

function(header_text name out)
  file(STRINGS ${VERSION_HEADER} line REGEX "^#define ${name} \"")
  if(NOT line)
    message(FATAL_ERROR "winget-manifest: ${VERSION_HEADER} has no ${name}")
  endif()
  string(REGEX REPLACE "^#define ${name} \"(.*)\"[ \t]*$" "\\1" text "${line}")
  # Double-quoted YAML: escape what would end or bend the string.
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

header_text(KELVRA_PRODUCT_NAME WINGET_NAME)
header_text(KELVRA_PUBLISHER WINGET_PUBLISHER)
header_text(KELVRA_COPYRIGHT WINGET_COPYRIGHT)
header_text(KELVRA_DISPLAY_VERSION WINGET_VERSION)
# The setup registers its uninstall entry under the product's name.
set(WINGET_PRODUCT_CODE "${WINGET_NAME}")
set(WINGET_ID "${PACKAGE_ID}")
string(REPLACE "\"" "%22" WINGET_URL "${INSTALLER_URL}")
file(SHA256 ${SETUP} WINGET_SHA256)
string(TOUPPER "${WINGET_SHA256}" WINGET_SHA256)

set(templates ${CMAKE_CURRENT_LIST_DIR}/winget)
file(MAKE_DIRECTORY ${OUT_DIR})
configure_file(${templates}/version.yaml.in ${OUT_DIR}/${PACKAGE_ID}.yaml @ONLY)
configure_file(${templates}/locale.en-US.yaml.in ${OUT_DIR}/${PACKAGE_ID}.locale.en-US.yaml @ONLY)
configure_file(${templates}/installer.yaml.in ${OUT_DIR}/${PACKAGE_ID}.installer.yaml @ONLY)
