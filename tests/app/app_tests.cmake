# The main window, in a real QApplication on the offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

add_executable(app_tests
  app/app_test_main.cpp
  app/trimmer_test.cpp
  app/trimmer_run_test.cpp
  app/dialogs_test.cpp
)
target_link_libraries(app_tests PRIVATE parevo_app parevo_test_support parevo_zip_test_support
  parevo_rar_builder GTest::gtest GTest::gmock Qt6::Test)
target_compile_definitions(app_tests PRIVATE PAREVO_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
set_target_properties(app_tests PROPERTIES BUILD_RPATH "$ORIGIN" AUTOMOC ON)
add_dependencies(app_tests parevo parevo-cli unzdll unrar)
gtest_discover_tests(app_tests
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120
  DISCOVERY_TIMEOUT 60)
