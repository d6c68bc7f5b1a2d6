// The address of a file on the content server (a picture, a composition), from a configured URL
// format.
#pragma once

#include <optional>
#include <string>

// Each path component percent-encoded, the separators kept.
std::string encodedPicturePath(const std::string& path);

// `format` with its first "%@" replaced by the file's name, each path component of the name
// percent-encoded and the separators kept. None when the format has no slot or the name is
// empty or would lead out of its folder (an absolute path, "." or "..").
std::optional<std::string> pictureURLWithFormat(const std::string& format, const std::string& imagePath);
