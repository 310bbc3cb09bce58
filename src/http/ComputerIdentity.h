// The computer identity sent at the file-service login: a SHA-1 digest of this process's user
// account and of this computer's first hardware address, as 40 lower-case hexadecimal digits.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// SHA-1 over the account bytes immediately followed by the address bytes, each digest byte as
// two lower-case hexadecimal digits, first byte first. Empty when the account or the address
// is empty. Inputs of any length are hashed whole.
std::wstring ComputeComputerUID(std::string_view account,
                                const std::vector<unsigned char>& hardwareAddress);

// ComputeComputerUID of platform::AccountIdentifier() and platform::FirstHardwareAddress():
// the same for one account on one computer while its first interface stays, different between
// accounts; empty when either cannot be read. No side effects; any thread.
std::wstring GetComputerUID();

}  // namespace vesk
