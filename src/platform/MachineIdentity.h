// What the platform tells about this computer and account for the computer identity: the only
// part of the identity that depends on the platform; another platform supplies these two
// functions.
#pragma once

#include <string>
#include <vector>

namespace vesk::platform {

// This process's user account as a stable text. POSIX: "uid:" + the numeric user id + ":" +
// the account's name ("uid:1000:alice"; "uid:1000:" when the account has no entry in the user
// database); empty when the user database cannot be read. Windows: the account's security
// identifier in its standard text form ("S-1-5-21-..."), in the system's narrow code page;
// empty when the process token cannot be read.
std::string AccountIdentifier();

// The hardware address of the first network interface. POSIX: the first that is not a
// loopback and whose address is neither empty, nor all zero, nor longer than 8 bytes;
// interfaces backed by a device come first (virtual ones, such as bridges and container links,
// are created and re-created with new addresses), each group in the order of the interface
// index. Windows: the first adapter, in the order the system lists them, whose address is not
// empty (at most 8 bytes). Empty when there is none.
std::vector<unsigned char> FirstHardwareAddress();

}  // namespace vesk::platform
