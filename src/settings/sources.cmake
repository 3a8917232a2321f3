target_sources(parevo_core PRIVATE
  settings/xml/xml_parser.cpp
  settings/xml/xml_node.cpp
  settings/option_controls.cpp
  settings/settings.cpp
  settings/appmanager.cpp
)
