#include "ui/desktop/HyperlinkAddresses.h"

#ifndef QS_HOME_PAGE
#define QS_HOME_PAGE "https://www.quillsever.example/"
#endif
#ifndef QS_SUPPORT_ADDRESS
#define QS_SUPPORT_ADDRESS "support@quillsever.example"
#endif

namespace ui {

std::string HomePageAddress() {
    return QS_HOME_PAGE;
}
std::string SupportAddress() {
    return QS_SUPPORT_ADDRESS;
}

} // namespace ui
