// decode_jpeg on hostile bytes: nothing may crash or touch memory outside the
// input and the image, and a decoded frame must have exactly its size.
//
// The work guard must see the stream the decoder sees: whenever decode_jpeg
// accepts a stream, the library's own count of its scans may not exceed the
// marker walk's, and an arithmetic-coded frame may not have passed.
//
// An input starting with 'M' is a recipe of marker- and size-level tricks
// played on a small baseline or progressive picture: short and reserved
// segments, repeated, padded and truncated scans, fill bytes and restart
// markers, other frame types, claimed sizes up to 8200 a side.
#include <turbojpeg.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>  // needs size_t and FILE declared before it

#include "image/decode_jpeg.h"
#include "image/jpeg_scans.h"
#include "tests/support/compress_jpeg.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct ErrorExit {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

// The library's count of the scans it reads from `data` (stopping at 1000),
// and whether it found the frame arithmetic-coded. No C++ object lives in
// this frame: the library leaves it by longjmp on errors.
int library_scans(const uint8_t* data, size_t size, bool* arithmetic) {
  jpeg_decompress_struct c;
  ErrorExit error;
  c.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = [](j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorExit*>(info->err)->jump, 1);
  };
  error.mgr.emit_message = [](j_common_ptr, int) {};
  volatile int scans = 0;
  jpeg_create_decompress(&c);
  if (setjmp(error.jump) == 0) {
    jpeg_mem_src(&c, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&c, TRUE) == JPEG_HEADER_OK) {
      scans = 1;
      *arithmetic = c.arith_code;
      c.buffered_image = TRUE;
      jpeg_start_decompress(&c);
      for (int r = 0; scans < 1000;) {
        r = jpeg_consume_input(&c);
        if (r == JPEG_REACHED_SOS) scans = scans + 1;
        if (r == JPEG_REACHED_EOI || r == JPEG_SUSPENDED) break;
      }
    }
  }
  jpeg_destroy_decompress(&c);
  return scans;
}

Bytes compressed(bool progressive) {
  Bytes rgb(24 * 16 * 3);
  for (size_t k = 0; k < rgb.size(); ++k) rgb[k] = uint8_t(k * 37 >> 2);
  return compress_jpeg(rgb, 24, 16, TJSAMP_420, 80, progressive ? TJFLAG_PROGRESSIVE : 0);
}

// The pieces of a library-made JPEG: each marker with its segment, scan
// headers with their data (the library stuffs every 0xFF in it).
std::vector<Bytes> pieces_of(const Bytes& jpeg) {
  std::vector<Bytes> pieces;
  size_t start = 0;
  for (size_t at = 2; at + 1 < jpeg.size(); ++at) {
    if (jpeg[at] == 0xFF && jpeg[at + 1] != 0x00 && jpeg[at + 1] != 0xFF) {
      pieces.emplace_back(jpeg.begin() + long(start), jpeg.begin() + long(at));
      start = at;
    }
  }
  pieces.emplace_back(jpeg.begin() + long(start), jpeg.end());
  return pieces;
}

Bytes from_recipe(const uint8_t* r, size_t size) {
  static const std::vector<Bytes> bases[2] = {pieces_of(compressed(false)),
                                              pieces_of(compressed(true))};
  if (size == 0) return {};
  std::vector<Bytes> p = bases[r[0] & 1];
  for (size_t k = 1; k + 2 < size; k += 3) {
    const uint8_t op = r[k], a = r[k + 1], b = r[k + 2];
    const size_t at = p.empty() ? 0 : a % p.size();
    switch (op % 9) {
      case 0:  // a segment of length 0, 1 or 2 (COM or an APP)
        p.insert(p.begin() + long(at), Bytes{0xFF, uint8_t(b & 1 ? 0xFE : 0xE0 + (b >> 4)), 0, uint8_t(b % 3)});
        break;
      case 1:  // a piece repeated (a scan, most often)
        if (!p.empty()) p.insert(p.begin() + long(at), size_t(b % 64), p[at]);
        break;
      case 2:  // the size the frame header claims
        for (Bytes& piece : p) {
          if (piece.size() >= 9 && piece[1] >= 0xC0 && piece[1] <= 0xCF && piece[1] != 0xC4 &&
              piece[1] != 0xC8 && piece[1] != 0xCC) {
            const int h = 1 + a * 33 % 8200, w = 1 + b * 33 % 8200;
            piece[5] = uint8_t(h >> 8), piece[6] = uint8_t(h), piece[7] = uint8_t(w >> 8), piece[8] = uint8_t(w);
          }
        }
        break;
      case 3:  // another frame type
        for (Bytes& piece : p) {
          if (piece.size() >= 2 && (piece[1] == 0xC0 || piece[1] == 0xC2)) piece[1] = uint8_t(0xC0 + a % 16);
        }
        break;
      case 4:  // zeros at the end of a piece: scan data for a larger picture
        if (!p.empty()) p[at].insert(p[at].end(), size_t(b + 1) * 64, 0);
        break;
      case 5:  // fill bytes before a marker
        if (!p.empty()) p[at].insert(p[at].begin(), size_t(b % 8), 0xFF);
        break;
      case 6:  // a restart, or a reserved marker with a length, after a piece
        if (!p.empty()) {
          p[at].insert(p[at].end(), {0xFF, uint8_t(b < 128 ? 0xD0 + b % 8 : 0x02 + b % 0xBE)});
          if (b >= 128) p[at].insert(p[at].end(), {0x00, a});
        }
        break;
      case 7:  // cut short at a piece
        p.resize(at + (b & 1));
        break;
      default:  // arithmetic conditioning tables
        p.insert(p.begin() + long(at), Bytes{0xFF, 0xCC, 0x00, 0x04, 0x00, 0x11});
        break;
    }
  }
  Bytes out = {0xFF, 0xD8};
  for (const Bytes& piece : p) {
    if (piece.size() >= 2 && piece[0] == 0xFF && piece[1] == 0xD8) continue;  // the start, once
    out.insert(out.end(), piece.begin(), piece.end());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t raw_size) {
  const bool recipe = raw_size > 0 && raw[0] == 'M';
  const Bytes built = recipe ? from_recipe(raw + 1, raw_size - 1) : Bytes();
  const uint8_t* data = recipe ? built.data() : raw;
  const size_t size = recipe ? built.size() : raw_size;
  // The marker walk that bounds the decoding work sees every input, also
  // those whose decoding is skipped below.
  const JpegScans scans = jpeg_scans(data, size);
  // Mutated headers easily claim thousands of pixels a side; decoding those
  // takes a large part of a second each and teaches little new, so only
  // refusals and frames up to two megapixels (the large seeds and a bit
  // more) are run.
  tjhandle handle = tjInitDecompress();
  int w = 0, h = 0, subsampling = 0, colourspace = 0;
  const bool read = !tjDecompressHeader3(handle, data, size, &w, &h, &subsampling, &colourspace);
  tjDestroy(handle);
  if (read && w <= 8192 && h <= 8192 && int64_t{w} * h > (int64_t{1} << 21)) {
    // Still judged: what the guard refuses costs nothing to try.
    Image image;
    if (!scans.followed || scans.arithmetic) {
      if (decode_jpeg(data, size, image)) std::abort();
    }
    return 0;
  }
  Image image{3, 1, std::vector<uint8_t>(9, 7)};
  const bool decoded = decode_jpeg(data, size, image);
  const int32_t iw = image.width, ih = image.height;
  if (image.pixels.size() != size_t(iw) * ih * 3) std::abort();
  if (!decoded && iw == 3 && ih == 1 && image.pixels[8] != 7) std::abort();
  if (decoded && (iw < 1 || iw > 8192 || ih < 1 || ih > 8192)) std::abort();
  if (decoded) {
    bool arithmetic = false;
    const int seen = library_scans(data, size, &arithmetic);
    if (seen > scans.count || arithmetic || !scans.followed) {
      std::fprintf(stderr, "guard passed %d scans (walk %lld), arithmetic %d\n", seen,
                   static_cast<long long>(scans.count), int(arithmetic));
      std::abort();
    }
  }
  return 0;
}
