#include "emulator/Router.h"

namespace vesk::emulator {

std::vector<Route> ShareRoutes() { return {}; }

}  // namespace vesk::emulator
