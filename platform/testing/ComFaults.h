#pragma once
// Fault injection for tests of COM failures; production code never includes
// this header (platform/html checks for the requests through its own
// ComFaultCheck.h).

#include <cstdint>

// The result type of platform/html/Com.h; the same alias, so that this header
// needs nothing of the layer it makes fail.
using HRESULT = std::int32_t;

// The calls a test can make fail.
enum class ComCall { CoInitialize, CoCreateInstance, CreateURLMoniker, CreateBindCtx };

// The next call of `call` on the calling thread fails with `hr` (E_FAIL when
// not given) and does nothing else; the call after it works again.
void FailNextComCall(ComCall call);
void FailNextComCall(ComCall call, HRESULT hr);
