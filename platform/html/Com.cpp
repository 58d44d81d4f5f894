#include "platform/html/Com.h"

#include "platform/html/ComFaultCheck.h"

#include <array>
#include <optional>

namespace {

thread_local int comInitCount = 0;
thread_local std::array<std::optional<HRESULT>, 4> injected;

}  // namespace

HRESULT CoInitialize(std::nullptr_t)
{
    HRESULT hr;
    if (TakeInjectedComFailure(ComCall::CoInitialize, hr))
        return hr;
    return comInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    // An unbalanced call is ignored rather than driving the count negative.
    if (comInitCount > 0)
        --comInitCount;
}

int CoInitializeCount() { return comInitCount; }

void FailNextComCall(ComCall call) { FailNextComCall(call, E_FAIL); }

void FailNextComCall(ComCall call, HRESULT hr) { injected[static_cast<size_t>(call)] = hr; }

bool TakeInjectedComFailure(ComCall call, HRESULT& hr)
{
    auto& slot = injected[static_cast<size_t>(call)];
    if (!slot)
        return false;
    hr = *slot;
    slot.reset();
    return true;
}
