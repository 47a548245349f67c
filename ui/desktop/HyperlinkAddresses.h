#pragma once

#include <string>

namespace ui {

// The maker's home page and support mail address, fixed when the program is built (the CMake
// cache variables QS_HOME_PAGE and QS_SUPPORT_ADDRESS).
std::string HomePageAddress();
std::string SupportAddress();

} // namespace ui
