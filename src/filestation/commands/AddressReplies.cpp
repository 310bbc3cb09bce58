#include "filestation/commands/AddressReplies.h"
