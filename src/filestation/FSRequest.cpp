#include "filestation/FSRequest.h"

#include <algorithm>

#include "filestation/CommandRoutines.h"
#include "filestation/Commands.h"

namespace vesk {

void FSRequestBase::NotifyCompletion() {
  if (!NotifyCallback()) return;
  _VESK_HTTP_NOTIFY_INFO_ info{Result(), FileStationOperationOf(Command()), 0, 0, this, UserData()};
  NotifyCallback()(&info);
}

void FSRequestBase::ReportJobProgress(int percent) {
  lastReportedPercent_ = std::max(lastReportedPercent_, percent);
  if (ProgressCallback()) ProgressCallback()(UserData(), lastReportedPercent_);
  if (NotifyCallback()) {
    _VESK_HTTP_NOTIFY_INFO_ info{VESK_HTTP_IN_PROGRESS,
                                 FileStationOperationOf(Command()),
                                 lastReportedPercent_,
                                 0,
                                 nullptr,
                                 UserData()};
    NotifyCallback()(&info);
  }
}

void FSRequest::Execute() {
  SetResult(VESK_HTTP_SUCCESS);
  switch (Command()) {
    case FS_CMD_LOGIN:
      RunFileStationLogin(*this);
      break;
    case FS_CMD_GET_SID:
      RunFileStationGetSid(*this);
      break;
    case FS_CMD_LOGOUT:
      RunFileStationLogout(*this);
      break;
    case FS_CMD_GET_TREE:
      RunGetShareRoots(*this);
      break;
    case FS_CMD_GET_LIST_COUNT:
    case FS_CMD_GET_LIST:
    case FS_CMD_GET_STATUS_LIST:
      RunGetList(*this);
      break;
    case FS_CMD_STAT:
      RunStat(*this);
      break;
    case FS_CMD_SEARCH:
    case FS_CMD_SEARCH_STATUS:
      RunSearch(*this);
      break;
    case FS_CMD_CREATEDIR:
      RunCreateFolder(*this);
      break;
    case FS_CMD_DELETE:
      RunDelete(*this);
      break;
    case FS_CMD_RENAME:
      RunRename(*this);
      break;
    case FS_CMD_SET_TIME:
      RunSetModifyTime(*this);
      break;
    case FS_CMD_COPY:
      RunCopy(*this);
      break;
    case FS_CMD_MOVE:
      RunMove(*this);
      break;
    case FS_CMD_UPLOAD:
      RunUpload(*this);
      break;
    case FS_CMD_DOWNLOAD:
      RunDownload(*this);
      break;
    case FS_CMD_READ_RANGE:
      RunReadRange(*this);
      break;
    case FS_CMD_START_CHUNKED_UPLOAD:
      RunStartChunkedUpload(*this);
      break;
    case FS_CMD_CHUNKED_UPLOAD:
      RunChunkedUpload(*this);
      break;
    case FS_CMD_DELETE_CHUNKED_UPLOAD:
      RunDeleteChunkedUpload(*this);
      break;
    case FS_CMD_SHARE_LINK:
      RunCreateShareLink(*this);
      break;
    case FS_CMD_GET_SHARE_LIST:
      RunGetShareList(*this);
      break;
    case FS_CMD_DELETE_SHARE:
      RunDeleteShare(*this);
      break;
    case FS_CMD_COMPRESS:
      RunCompress(*this);
      break;
    case FS_CMD_GET_EXTRACT_LIST:
      RunGetExtractList(*this);
      break;
    case FS_CMD_EXTRACT:
      RunExtract(*this);
      break;
    case FS_CMD_GET_DOMAIN_IP_LIST:
      RunGetDomainIPList(*this);
      break;
    case FS_CMD_VIDEO_QUEUE:
      RunVideoQueue(*this);
      break;
    case FS_CMD_DELETE_TRANSCODE:
      RunDeleteTranscode(*this);
      break;
    default:
      SetResult(VESK_HTTP_INVALID_REQUEST);  // no routine for this command
      break;
  }
}

}  // namespace vesk
