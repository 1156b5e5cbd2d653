#include "platform/ui/image_codec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>
#include <png.h>

namespace {

// Larger pictures are refused rather than allocated (a damaged header can claim anything).
constexpr std::uint64_t kMaxPixels = 32ull * 1024 * 1024;

bool consistent(const Bitmap& bitmap) {
  const std::uint64_t pixels = std::uint64_t{bitmap.width} * bitmap.height;
  return pixels > 0 && pixels <= kMaxPixels && bitmap.rgba.size() == pixels * 4;
}

struct PngImageFree {
  void operator()(png_image* image) const { png_image_free(image); }
};

// libjpeg reports errors by calling error_exit, which must not return: it jumps back to the
// setjmp of the call in progress. Everything that must outlive the jump lives on the heap,
// owned by objects made before the setjmp.
struct JpegError {
  jpeg_error_mgr manager;  // first, so the library's pointer is also ours
  std::jmp_buf jump;
};

[[noreturn]] void jumpOnError(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
void ignoreMessage(j_common_ptr) {}

struct DecompressFree {
  // Safe on a struct never created: its memory manager is still null.
  void operator()(jpeg_decompress_struct* info) const {
    jpeg_destroy_decompress(info);
    delete info;
  }
};
struct CompressFree {
  void operator()(jpeg_compress_struct* info) const {
    jpeg_destroy_compress(info);
    delete info;
  }
};

struct JpegOutput {
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  ~JpegOutput() { std::free(buffer); }
};

std::unique_ptr<JpegError> makeJpegError() {
  auto error = std::make_unique<JpegError>();
  jpeg_std_error(&error->manager);
  error->manager.error_exit = jumpOnError;
  error->manager.output_message = ignoreMessage;
  return error;
}

}  // namespace

std::optional<Bitmap> decodePNG(const Data& data) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::unique_ptr<png_image, PngImageFree> owner(&image);
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return std::nullopt;
  image.format = PNG_FORMAT_RGBA;
  Bitmap bitmap{image.width, image.height, {}};
  const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
  if (pixels == 0 || pixels > kMaxPixels) return std::nullopt;
  bitmap.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bitmap.rgba.data(), 0, nullptr)) return std::nullopt;
  return bitmap;
}

std::optional<Data> encodePNG(const Bitmap& bitmap) {
  if (!consistent(bitmap)) return std::nullopt;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = bitmap.width;
  image.height = bitmap.height;
  image.format = PNG_FORMAT_RGBA;
  std::unique_ptr<png_image, PngImageFree> owner(&image);
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, bitmap.rgba.data(), 0, nullptr)) return std::nullopt;
  std::vector<std::uint8_t> bytes(size);
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, bitmap.rgba.data(), 0, nullptr)) return std::nullopt;
  bytes.resize(size);
  return Data(std::move(bytes));
}

std::optional<Bitmap> decodeJPEG(const Data& data) {
  if (data.empty()) return std::nullopt;
  auto error = makeJpegError();
  std::unique_ptr<jpeg_decompress_struct, DecompressFree> info(new jpeg_decompress_struct{});
  auto bitmap = std::make_unique<Bitmap>();
  info->err = &error->manager;
  if (setjmp(error->jump)) return std::nullopt;
  jpeg_create_decompress(info.get());
  jpeg_mem_src(info.get(), data.data(), static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(info.get(), TRUE) != JPEG_HEADER_OK) return std::nullopt;
  // Before any scan: a progressive image is buffered whole at the start of decompression.
  const std::uint64_t declared = std::uint64_t{info->image_width} * info->image_height;
  if (declared == 0 || declared > kMaxPixels) return std::nullopt;
  info->out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(info.get());
  const std::uint64_t pixels = std::uint64_t{info->output_width} * info->output_height;
  if (pixels == 0 || pixels > kMaxPixels || info->output_components != 4) return std::nullopt;
  bitmap->width = info->output_width;
  bitmap->height = info->output_height;
  bitmap->rgba.resize(pixels * 4);
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = bitmap->rgba.data() + std::size_t{info->output_scanline} * bitmap->width * 4;
    jpeg_read_scanlines(info.get(), &row, 1);
  }
  jpeg_finish_decompress(info.get());
  return std::move(*bitmap);
}

std::optional<Data> encodeJPEG(const Bitmap& bitmap, double quality) {
  if (!consistent(bitmap)) return std::nullopt;
  auto error = makeJpegError();
  std::unique_ptr<jpeg_compress_struct, CompressFree> info(new jpeg_compress_struct{});
  auto output = std::make_unique<JpegOutput>();
  info->err = &error->manager;
  if (setjmp(error->jump)) return std::nullopt;
  jpeg_create_compress(info.get());
  jpeg_mem_dest(info.get(), &output->buffer, &output->size);
  info->image_width = bitmap.width;
  info->image_height = bitmap.height;
  info->input_components = 4;
  info->in_color_space = JCS_EXT_RGBA;
  jpeg_set_defaults(info.get());
  jpeg_set_quality(info.get(), static_cast<int>(std::clamp(quality, 0.0, 1.0) * 100), TRUE);
  jpeg_start_compress(info.get(), TRUE);
  while (info->next_scanline < info->image_height) {
    auto row = const_cast<JSAMPROW>(bitmap.rgba.data() + std::size_t{info->next_scanline} * bitmap.width * 4);
    jpeg_write_scanlines(info.get(), &row, 1);
  }
  jpeg_finish_compress(info.get());
  return Data(std::vector<std::uint8_t>(output->buffer, output->buffer + output->size));
}
