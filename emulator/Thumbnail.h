// Thumbnails of image files, made with libgd.
#ifndef VESK_EMULATOR_THUMBNAIL_H
#define VESK_EMULATOR_THUMBNAIL_H

#include <optional>
#include <string>
#include <string_view>

namespace vesk::emulator {

// True when name's extension is that of an image format the device makes thumbnails of
// (png, jpg/jpeg, gif, bmp, webp, tif/tiff, as far as libgd reads them here).
bool IsImageName(std::string_view name);

// A PNG of the image in the file fd (of the format name's extension says), scaled to fit in
// size x size pixels with its proportions kept; an image that fits already keeps its size.
// nullopt when the file cannot be read as such an image. fd stays open.
std::optional<std::string> MakeThumbnail(int fd, std::string_view name, int size);

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_THUMBNAIL_H
