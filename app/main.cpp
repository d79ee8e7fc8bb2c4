#include <windows.h>

#include "app/extractor_app.h"
#include "framework/app.h"

namespace {

drovan::ExtractorApp theApp;

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return drovan::framework::RunApp();
}
