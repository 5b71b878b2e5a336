# Tests of the still-image and tile coders. Files are checked with the
# reference decoders: libjpeg for JPEG, libpng for PNG, zlib for tiles.
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(ZLIB REQUIRED)

add_library(quillet_image_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/ImageTestSupport.cpp)
target_include_directories(quillet_image_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillet_image_test_support PUBLIC JPEG::JPEG PNG::PNG ZLIB::ZLIB)

quillet_add_test(JpegEncoderTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/JpegEncoderTest.cpp
  LIBS quillet_video_images quillet_image_test_support)
quillet_add_test(JpegKernelsTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/JpegKernelsTest.cpp
  LIBS quillet_video_images quillet_image_test_support)
quillet_add_test(PngWriterTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PngWriterTest.cpp
  LIBS quillet_video_images quillet_image_test_support)
quillet_add_test(BlockCoderTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/BlockCoderTest.cpp
  LIBS quillet_video_images quillet_image_test_support)
