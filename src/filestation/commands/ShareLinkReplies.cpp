#include "filestation/commands/ShareLinkReplies.h"
