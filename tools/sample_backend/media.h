#pragma once

#include <optional>
#include <string>

struct MediaFile {
  std::string contentType;
  std::string bytes;
};

// Small real files made from their name alone, so nothing has to be shipped: "NAME.png" a 48x48
// picture in a colour of its own, "NAME.wav" half a second of a tone ("tone-a" and "tone-c" are
// those notes), "NAME.mp4" a placeholder that only carries the file type. NAME is lower-case
// letters, digits and "-"; any other name gives nothing.
std::optional<MediaFile> generateMedia(const std::string& name);
