#include "emulator/Router.h"

namespace vesk::emulator {

std::vector<Route> DeviceInfoRoutes() { return {}; }

}  // namespace vesk::emulator
