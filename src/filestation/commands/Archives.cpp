#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"

namespace vesk {

void RunCompress(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

void RunGetExtractList(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

void RunExtract(FSRequest& r) { r.SetResult(VESK_HTTP_INVALID_REQUEST); }

}  // namespace vesk
