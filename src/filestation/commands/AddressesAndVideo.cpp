#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"

namespace vesk {

void RunGetDomainIPList(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

void RunVideoQueue(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

void RunDeleteTranscode(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

}  // namespace vesk
