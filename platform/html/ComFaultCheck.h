#pragma once
// Where the COM calls of platform/html look for a failure a test asked for
// (platform/testing/ComFaults.h). Internal to platform/html: the build
// defines HC_HTML_INTERNAL for that layer's own sources only.

#ifndef HC_HTML_INTERNAL
#error "platform/html/ComFaultCheck.h is internal to platform/html"
#endif

#include "platform/testing/ComFaults.h"

// True once, with the failure in `hr`, when one was asked for `call` on the
// calling thread; the request is cleared then. False (and `hr` untouched)
// otherwise.
bool TakeInjectedComFailure(ComCall call, HRESULT& hr);
