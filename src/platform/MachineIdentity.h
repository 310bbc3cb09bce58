// What the platform tells about this computer and account for the computer identity: the only
// part of the identity that depends on the platform; another platform supplies these two
// functions.
#pragma once

#include <string>
#include <vector>

namespace vesk::platform {

// This process's user account as a stable text: "uid:" + the numeric user id + ":" + the
// account's name ("uid:1000:alice"; "uid:1000:" when the account has no entry in the user
// database). Empty when the user database cannot be read.
std::string AccountIdentifier();

// The hardware address of the first network interface that is not a loopback and whose address
// is neither empty, nor all zero, nor longer than 8 bytes. Interfaces backed by a device come
// first (virtual ones, such as bridges and container links, are created and re-created with new
// addresses), each group in the order of the interface index. Empty when there is none.
std::vector<unsigned char> FirstHardwareAddress();

}  // namespace vesk::platform
