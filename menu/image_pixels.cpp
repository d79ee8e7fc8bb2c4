#include "menu/image_pixels.h"
