#include "menu/menu_resources.h"
