#include "viewer/png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

namespace rwview {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// libpng reports errors by longjmp; its message is kept for the caller.
void OnPngError(png_structp png, png_const_charp message) {
  auto* text = static_cast<std::string*>(png_get_error_ptr(png));
  if (text != nullptr) *text = message;
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

}  // namespace

bool WritePng(const std::string& path, const Picture& picture, std::string* error) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
    SetError(error, path + ": no picture to write");
    return false;
  }
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    SetError(error, path + ": cannot be written");
    return false;
  }
  std::string message;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &message, OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    SetError(error, path + ": out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    SetError(error, path + ": " + message);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
               static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < picture.height; y++) png_write_row(png, picture.At(0, y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) {
    SetError(error, path + ": cannot be written");
    return false;
  }
  return true;
}

bool ReadPng(const std::string& path, Picture& picture, std::string* error) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    SetError(error, path + ": cannot be opened");
    return false;
  }
  unsigned char signature[8] = {};
  if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    SetError(error, path + ": not a PNG file");
    return false;
  }
  // Everything the jump back may meet lives before setjmp.
  std::string message;
  Picture read;
  std::vector<png_bytep> rows;
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    SetError(error, path + ": out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    SetError(error, path + ": " + message);
    return false;
  }
  png_init_io(png, file.get());
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  read.width = static_cast<int>(png_get_image_width(png, info));
  read.height = static_cast<int>(png_get_image_height(png, info));
  if (png_get_rowbytes(png, info) != static_cast<size_t>(read.width) * 3) {
    png_destroy_read_struct(&png, &info, nullptr);
    SetError(error, path + ": unexpected pixel layout");
    return false;
  }
  read.rgb.resize(static_cast<size_t>(read.width) * read.height * 3);
  rows.resize(static_cast<size_t>(read.height));
  for (int y = 0; y < read.height; y++) rows[static_cast<size_t>(y)] = read.At(0, y);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  picture = std::move(read);
  return true;
}

}  // namespace rwview
