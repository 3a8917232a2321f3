parevo_test(settings_tests SOURCES
  settings/xml_parser_test.cpp
  settings/xml_node_test.cpp
  settings/settings_test.cpp
  settings/xml_fixtures_test.cpp
)

parevo_test(settings_cli_tests SOURCES settings/cli_settings_test.cpp)
add_dependencies(settings_cli_tests parevo-cli)
