// The command routines of the file service, one per device command, grouped by family.
// Each follows the same skeleton: read its parameters, make its exchanges through
// RequestCore::Call, parse the reply and set the result and the outputs. The dispatcher
// (FSRequest::Execute) has set the result to 0 before and applies the cancel rule after.
#pragma once

namespace vesk {

class FSRequest;

// Login, sid fetch and logout.
void RunFileStationLogin(FSRequest& request);
void RunFileStationGetSid(FSRequest& request);
void RunFileStationLogout(FSRequest& request);

// Share roots and folder listings (count, page and page with status share one routine).
void RunGetShareRoots(FSRequest& request);
void RunGetList(FSRequest& request);

// File status, and search (with or without status).
void RunStat(FSRequest& request);
void RunSearch(FSRequest& request);

// Changes to the file tree.
void RunCreateFolder(FSRequest& request);
void RunDelete(FSRequest& request);
void RunRename(FSRequest& request);
void RunSetModifyTime(FSRequest& request);

// Copy and move, following the device's job.
void RunCopy(FSRequest& request);
void RunMove(FSRequest& request);

// Whole-file upload (from a local file or the caller's reader) and download, streamed; and
// ranged reads into the caller's sink.
void RunUpload(FSRequest& request);
void RunDownload(FSRequest& request);
void RunReadRange(FSRequest& request);

// Chunked upload (from a local file or the caller's reader): start, one attempt, delete.
void RunStartChunkedUpload(FSRequest& request);
void RunChunkedUpload(FSRequest& request);
void RunDeleteChunkedUpload(FSRequest& request);

// Share links: create (two exchanges), list, delete.
void RunCreateShareLink(FSRequest& request);
void RunGetShareList(FSRequest& request);
void RunDeleteShare(FSRequest& request);

// Archives: compress and extract, following the device's job, and list an archive.
void RunCompress(FSRequest& request);
void RunGetExtractList(FSRequest& request);
void RunExtract(FSRequest& request);

// The device's addresses and its video transcoding queue.
void RunGetDomainIPList(FSRequest& request);
void RunVideoQueue(FSRequest& request);
void RunDeleteTranscode(FSRequest& request);

}  // namespace vesk
