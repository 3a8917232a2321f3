set(PAREVO_SETTINGS_XML_SOURCES
  settings/xml/xml_parser.cpp
  settings/xml/xml_node.cpp
)
target_sources(parevo_core PRIVATE
  ${PAREVO_SETTINGS_XML_SOURCES}
  settings/option_controls.cpp
  settings/settings.cpp
  settings/appmanager.cpp
)
# The fuzz targets instrument only their own file; instrument the scanner too, so
# the fuzzer sees its coverage and the sanitizers check it.
if(PAREVO_BUILD_FUZZ)
  set_source_files_properties(${PAREVO_SETTINGS_XML_SOURCES} PROPERTIES
    COMPILE_OPTIONS "-fsanitize=fuzzer-no-link,address,undefined")
  target_link_options(parevo_core INTERFACE -fsanitize=address,undefined)
endif()
