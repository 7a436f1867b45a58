// ScreenFile.h - the HDMI screen as a PNG file, replaced whole.
//
// A viewer may open the file at any moment while the board rewrites it
// (vyxsim --hdmi-every), so the picture is written to a file of its own in
// the same folder ("FILE.<pid>-<n>.tmp") and then renamed over FILE: a
// reader sees the old picture or the new one, never half of one.  Both the
// board (the screen it shows) and the launcher (a black screen when no
// program of the run used the board) write it this way.
#ifndef VYX_MODEL_SCREEN_FILE_H
#define VYX_MODEL_SCREEN_FILE_H

#include <cstdint>
#include <string>

namespace vb {
namespace model {

// Writes width x height pixels of R, G, B bytes as a PNG to `path`; false
// with the reason in `error` (the old file, if any, is left as it was).
bool writeScreenPng(const std::string& path, const uint8_t* rgb, int width, int height, std::string& error);

}  // namespace model
}  // namespace vb

#endif
