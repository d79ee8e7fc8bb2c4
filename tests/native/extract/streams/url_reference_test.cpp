#include "extract/streams/url_reference.h"
