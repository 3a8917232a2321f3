# The zip component, its unzip library and the batch prompter.
find_package(ZLIB REQUIRED)
find_package(libzip REQUIRED)  # writes the AES archives the library must read

add_library(parevo_zip_test_support STATIC support/zip_builder.cpp)
target_include_directories(parevo_zip_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(parevo_zip_test_support PUBLIC parevo_test_support ZLIB::ZLIB)

# Has the unzip library's entry points but reports version 150.
add_library(fakeunzdllold SHARED archive/fake_unzdll_old.cpp)
set_target_properties(fakeunzdllold PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

parevo_test(zip_tests SOURCES
  archive/zip_names_test.cpp
  archive/zip_reader_test.cpp
  archive/zip_extract_test.cpp
  archive/zip_library_test.cpp
  archive/zip_batch_prompter_test.cpp
  LIBS parevo_zip_test_support libzip::zip)
add_dependencies(zip_tests unzdll fakeunzdllold)
