#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"

namespace vesk {

void RunCreateShareLink(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

void RunGetShareList(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

void RunDeleteShare(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

}  // namespace vesk
