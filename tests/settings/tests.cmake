parevo_test(settings_tests SOURCES
  settings/xml_parser_test.cpp
  settings/xml_node_test.cpp
  settings/settings_test.cpp
  settings/xml_fixtures_test.cpp
)
