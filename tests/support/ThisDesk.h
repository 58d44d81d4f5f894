#pragma once
// The desk the settings in force name ([desk] name), as a test that made no
// claim works with it: each use on a connection of its own.

#include "platform/settings/Settings.h"
#include "store/DeskAccess.h"

inline store::DeskAccess ThisDesk()
{
    return store::DeskAccess(platform::CurrentSettings().deskName);
}
