#include "emulator/Router.h"

namespace vesk::emulator {

std::vector<Route> ArchiveRoutes() { return {}; }

}  // namespace vesk::emulator
