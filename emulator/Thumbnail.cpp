#include "emulator/Thumbnail.h"

#include <gd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "emulator/Wire.h"

namespace vesk::emulator {

namespace {

using Loader = gdImagePtr (*)(FILE*);

struct Format {
  const char* extension;  // with its dot, in lower case
  Loader load;
};

constexpr Format kFormats[] = {
    {".png", &gdImageCreateFromPng},   {".jpg", &gdImageCreateFromJpeg},
    {".jpeg", &gdImageCreateFromJpeg}, {".gif", &gdImageCreateFromGif},
    {".bmp", &gdImageCreateFromBmp},   {".webp", &gdImageCreateFromWebp},
    {".tif", &gdImageCreateFromTiff},  {".tiff", &gdImageCreateFromTiff},
};

// The format of name by its extension, when this libgd reads it.
const Format* FormatOf(std::string_view name) {
  const std::string folded = AsciiLower(name);
  for (const Format& format : kFormats) {
    const std::string_view extension = format.extension;
    if (folded.size() > extension.size() && folded.ends_with(extension)) {
      // gdSupportsFileType goes by the extension of the name it is given.
      return gdSupportsFileType(format.extension, 0) ? &format : nullptr;
    }
  }
  return nullptr;
}

struct ImageDeleter {
  void operator()(gdImage* image) const { gdImageDestroy(image); }
};
using Image = std::unique_ptr<gdImage, ImageDeleter>;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

struct GdFree {
  void operator()(void* data) const { gdFree(data); }
};

}  // namespace

bool IsImageName(std::string_view name) { return FormatOf(name) != nullptr; }

std::optional<std::string> MakeThumbnail(int fd, std::string_view name, int size) {
  const Format* format = FormatOf(name);
  if (!format || size < 1) return std::nullopt;
  // The loaders read a stdio stream; it gets a descriptor of its own, which it closes.
  const int own = dup(fd);
  if (own < 0) return std::nullopt;
  std::unique_ptr<FILE, FileCloser> file(fdopen(own, "rb"));
  if (!file) {
    close(own);
    return std::nullopt;
  }
  const Image source(format->load(file.get()));
  if (!source) return std::nullopt;
  const int width = gdImageSX(source.get()), height = gdImageSY(source.get());
  if (width < 1 || height < 1) return std::nullopt;
  // Fit the longer side to size; the shorter one follows, rounded, at least one pixel.
  int thumbWidth = width, thumbHeight = height;
  if (width > size || height > size) {
    if (width >= height) {
      thumbWidth = size;
      thumbHeight = std::max(
          1, static_cast<int>((static_cast<long long>(height) * size + width / 2) / width));
    } else {
      thumbHeight = size;
      thumbWidth = std::max(
          1, static_cast<int>((static_cast<long long>(width) * size + height / 2) / height));
    }
  }
  const Image thumb(gdImageCreateTrueColor(thumbWidth, thumbHeight));
  if (!thumb) return std::nullopt;
  // Transparency is copied as it is, not blended onto black.
  gdImageAlphaBlending(thumb.get(), 0);
  gdImageSaveAlpha(thumb.get(), 1);
  gdImageCopyResampled(thumb.get(), source.get(), 0, 0, 0, 0, thumbWidth, thumbHeight, width,
                       height);
  int length = 0;
  const std::unique_ptr<void, GdFree> png(gdImagePngPtr(thumb.get(), &length));
  if (!png || length <= 0) return std::nullopt;
  return std::string(static_cast<const char*>(png.get()), static_cast<std::size_t>(length));
}

}  // namespace vesk::emulator
