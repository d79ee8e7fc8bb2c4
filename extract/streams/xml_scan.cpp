#include "extract/streams/xml_scan.h"
