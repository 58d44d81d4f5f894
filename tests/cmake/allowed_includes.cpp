// A crawl-layer file that includes only what its layer may use.
#include "crawl/SearchRequest.h"
#include "platform/base/AnsiString.h"
#include "ui_Unit1.h"

#include <QString>
#include <gumbo.h>
