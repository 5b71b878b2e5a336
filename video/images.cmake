# Still-image and tile coders: change tightening and lossless tiles, the
# baseline JPEG encoder (with per-instruction-set kernels) and the PNG writer.
find_package(ZLIB REQUIRED)

add_library(quillet_video_images
  ${CMAKE_CURRENT_LIST_DIR}/BlockCoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegDct.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegDctSse2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegDctAvx2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegEncoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PngWriter.cpp
)
# Each vector variant gets its own flags; the choice is made at run time, so
# the rest of the library stays runnable on any x86-64.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/JpegDctSse2.cpp PROPERTIES COMPILE_OPTIONS "-msse2")
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/JpegDctAvx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
target_link_libraries(quillet_video_images PUBLIC quillet_engine_types PRIVATE ZLIB::ZLIB)
