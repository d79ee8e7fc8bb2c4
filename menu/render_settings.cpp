#include "menu/render_settings.h"
