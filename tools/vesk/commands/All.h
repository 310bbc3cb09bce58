// Every vesk subcommand, in the order `vesk --help` lists them. Each command's source defines
// its Register function; this table is the one place that names them all, so that a command
// is neither left out by the linker nor listed in an order that depends on the link. A new
// command adds its source to tools/vesk/CMakeLists.txt and its line here.
#ifndef VESK_TOOLS_COMMANDS_ALL_H
#define VESK_TOOLS_COMMANDS_ALL_H

#include "Command.h"

namespace vesk::cli {

// The file tree.
void RegisterShares(Registry& registry);      // ls.cpp
void RegisterList(Registry& registry);        // ls.cpp
void RegisterStat(Registry& registry);        // stat.cpp
void RegisterFind(Registry& registry);        // find.cpp
void RegisterMakeFolder(Registry& registry);  // mkdir.cpp
void RegisterMove(Registry& registry);        // mv.cpp
void RegisterCopy(Registry& registry);        // cp.cpp
void RegisterRemove(Registry& registry);      // rm.cpp
void RegisterTouch(Registry& registry);       // touch.cpp
// Transfers.
void RegisterPut(Registry& registry);  // put.cpp
void RegisterGet(Registry& registry);  // get.cpp
// Share links and links.
void RegisterShare(Registry& registry);  // share.cpp
void RegisterUrl(Registry& registry);    // url.cpp
// Archives.
void RegisterZip(Registry& registry);    // archive.cpp
void RegisterUnzip(Registry& registry);  // archive.cpp
// The device.
void RegisterAddresses(Registry& registry);       // addr.cpp
void RegisterTranscode(Registry& registry);       // transcode.cpp
void RegisterSettings(Registry& registry);        // settings.cpp
void RegisterWebFileManager(Registry& registry);  // web_fm.cpp

inline constexpr Registration kAllCommands[] = {
    RegisterShares,
    RegisterList,
    RegisterStat,
    RegisterFind,
    RegisterMakeFolder,
    RegisterMove,
    RegisterCopy,
    RegisterRemove,
    RegisterTouch,
    RegisterPut,
    RegisterGet,
    RegisterShare,
    RegisterUrl,
    RegisterZip,
    RegisterUnzip,
    RegisterAddresses,
    RegisterTranscode,
    RegisterSettings,
    RegisterWebFileManager,
};

}  // namespace vesk::cli

#endif  // VESK_TOOLS_COMMANDS_ALL_H
