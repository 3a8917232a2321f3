# The RAR component, its binding, and the RAR library it loads at run time.
# The RAR 5 hash records take the library's BLAKE2sp.
add_library(parevo_rar_builder STATIC ${CMAKE_CURRENT_SOURCE_DIR}/support/rar_builder.cpp
  ${PROJECT_SOURCE_DIR}/extlib/unrar/checksum.cpp)
target_include_directories(parevo_rar_builder PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
  PRIVATE ${PROJECT_SOURCE_DIR}/extlib/unrar)
target_link_libraries(parevo_rar_builder PUBLIC parevo_test_support)

parevo_test(rar_tests SOURCES
  archive/rar_component_test.cpp
  archive/rar_library_test.cpp
  archive/rar_filter_test.cpp
  archive/rar_checksum_test.cpp
  archive/rar_vendor_results_test.cpp
  LIBS parevo_rar_builder)
# The library is the real one the component loads; its interface header is read
# only to check that both sides lay the records out alike.
target_include_directories(rar_tests PRIVATE ${PROJECT_SOURCE_DIR}/extlib/unrar)
# The volume naming rules are checked directly as well.
target_sources(rar_tests PRIVATE ${PROJECT_SOURCE_DIR}/extlib/unrar/rar_scan.cpp)
if(TARGET unrar)
  add_dependencies(rar_tests unrar)
endif()
