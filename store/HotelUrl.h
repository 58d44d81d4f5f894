#pragma once
// One pending hotel detail link: the page address and the destination code it
// was collected under. The same two values are the "Url" and "AirPort" fields
// of the "Going" table.

#include "platform/base/AnsiString.h"

struct Hotel_Url {
    AnsiString Url;
    AnsiString AirPort;

    friend bool operator==(const Hotel_Url&, const Hotel_Url&) = default;
};
