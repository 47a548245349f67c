#pragma once

#include <cstdint>

namespace ui::thumbnails {

// What the window and its page-picture helper say to each other over the helper's standard
// input and output. Every number is a native 32-bit integer: both ends are this machine.
//
// Window to helper:
//   'O' length path-bytes                 open this file (dropping the one before)
//   'R' page width height                 render page (0-based) to fit width x height
// Helper to window:
//   'O' error pages                       error is a QPdfDocument::Error, pages the page count
//   'R' page width height pixels          pixels: width * height * 4 bytes, ARGB32 premultiplied;
//                                         width 0 when the page could not be rendered
inline constexpr char kOpen = 'O';
inline constexpr char kRender = 'R';

// A picture larger than this is no thumbnail: the window refuses it, whatever the helper says.
inline constexpr int32_t kMaxSide = 1024;

// The name of the helper program, found beside the program or in its libexec folder.
inline constexpr const char* kHelperName = "quillsever-thumbnailer";

} // namespace ui::thumbnails
