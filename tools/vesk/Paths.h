// Device paths as the user writes them: "/Share/folder/name", UTF-8.
#ifndef VESK_TOOLS_PATHS_H
#define VESK_TOOLS_PATHS_H

#include <string>

namespace vesk::cli {

// The path with one leading "/", no repeated and no trailing "/" ("/" for the top).
std::string DevicePath(const std::string& text);
// The folder that holds the item ("" for a share root) and the item's name.
std::string Parent(const std::string& path);
std::string Name(const std::string& path);
// folder + "/" + name.
std::string Join(const std::string& folder, const std::string& name);

// The name part of a local path.
std::string LocalName(const std::string& path);

// The text quoted for a POSIX shell when it needs it, for commands vesk suggests.
std::string ShellQuote(const std::string& text);

}  // namespace vesk::cli

#endif  // VESK_TOOLS_PATHS_H
