#include "filestation/commands/ArchiveReplies.h"
