#pragma once

// An arithmetic-coded JPEG, which the TurboJPEG interface cannot write.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>  // needs size_t and FILE declared before it

// A textured w x h colour picture, arithmetic-coded, sequential.
inline std::vector<uint8_t> arithmetic_jpeg(int w, int h) {
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* data = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &data, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  c.arith_code = TRUE;
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(size_t(w) * 3);
  while (c.next_scanline < c.image_height) {
    for (size_t k = 0; k < row.size(); ++k) row[k] = uint8_t(k * 7 + c.next_scanline * 3);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> jpeg(data, data + size);
  jpeg_destroy_compress(&c);
  std::free(data);
  return jpeg;
}
