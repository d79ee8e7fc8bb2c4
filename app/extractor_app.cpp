#include "app/extractor_app.h"

#include "app/extractor_dialog.h"

namespace drovan {

void ExtractorApp::InitInstance() {
    ExtractorDialog dialog;
    mainWindow = &dialog;
    dialog.DoModal();
    mainWindow = nullptr;
}

}  // namespace drovan
