// SPDX-License-Identifier: GPL-3.0-or-later
// Still images read as a video. Part of the runtime layer's public face, beside wmsdk.h: the
// sync reader opens a folder of images, or a pattern with '*' that names them, as a video with
// one frame per image; these tell the front ends what such an input holds and at which rate it
// is read.
#pragma once

#include <string>
#include <vector>

namespace wmf {

// Whether the sync reader takes `path` for a sequence of stills: a folder, or a name with a '*'
// that is not itself an existing file.
bool IsStillImageSequence(const std::string& path);

// The images of such an input in natural name order (IMG_9 before IMG_10, as `ls -v` sorts):
// the regular files of the folder, or those the pattern matches ('*' and the other glob(3)
// wildcards), whose names end in .jpg, .jpeg, .png, .tif, .tiff, .bmp or .webp (any case) and do
// not begin with a dot. Empty when there is none, the folder cannot be read or `path` is no
// sequence.
std::vector<std::string> ListStillImages(const std::string& path);

// The image extensions that ListStillImages takes, lower case, without the dot, for messages.
const std::vector<std::string>& StillImageExtensions();

// Frames per second at which sequences of stills are read from the next open on: image k (0 for
// the first) is the frame at k / rate seconds. The default is the default input rate; a rate
// outside [1, 1000] is ignored. Process-wide: set it before opening.
void SetStillImageRate(double dRate);
double StillImageRate();

}  // namespace wmf
