#include "platform/engine/Engine.h"

#include <optional>

namespace platform::engine {
namespace {
std::optional<BrowserEngine> chosen;
}

void UseEngine(BrowserEngine engine) { chosen = engine; }

BrowserEngine EngineInUse() { return chosen ? *chosen : CurrentSettings().browserEngine; }

}  // namespace platform::engine
