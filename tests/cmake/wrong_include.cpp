// A crawl-layer file that reaches into a layer it does not link.
#include "crawl/SearchRequest.h"
#include "platform/base/AnsiString.h"
#include "tools/common/Json.h"
