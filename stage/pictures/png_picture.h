// A still picture of a viewer page: the page drawn by headless Chromium into a PNG.
#ifndef TARSEL_STAGE_PICTURES_PNG_PICTURE_H
#define TARSEL_STAGE_PICTURES_PNG_PICTURE_H

#include <string>

namespace pictures {

// Writes the page into a fresh temporary folder, has Chromium draw it at WIDTHxHEIGHT with the
// URL fragment given (the page reads its view and frame from it) and returns the PNG. Chromium is
// $TARSEL_CHROMIUM, else "chromium" on the PATH; it gets a fresh profile and no network services.
// Throws stage::Error when the browser is missing, takes over 120 s, makes no picture or the
// page never signals that it drew (its script failed before the first frame).
std::string png_picture(const std::string& page, const std::string& fragment, int width,
                        int height);

}  // namespace pictures

#endif
