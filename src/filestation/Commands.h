// Command codes of the two services. Each request carries one; its dispatcher picks the
// routine by it. Callers never see them; the file-service codes index the table of
// notification operation codes.
#pragma once

namespace vesk {

enum FSCommand : int {
  FS_CMD_LOGIN = 257,
  FS_CMD_GET_SID = 258,
  FS_CMD_LOGOUT = 259,
  FS_CMD_GET_TREE = 260,
  FS_CMD_GET_LIST_COUNT = 261,
  FS_CMD_GET_LIST = 262,
  FS_CMD_STAT = 263,
  FS_CMD_SEARCH = 264,
  FS_CMD_CREATEDIR = 265,
  FS_CMD_DELETE = 266,
  FS_CMD_COPY = 267,
  FS_CMD_MOVE = 269,
  FS_CMD_SHARE_LINK = 270,
  FS_CMD_GET_SHARE_LIST = 271,
  FS_CMD_DELETE_SHARE = 272,
  FS_CMD_UPLOAD = 273,
  FS_CMD_DOWNLOAD = 274,
  FS_CMD_RENAME = 275,
  FS_CMD_SET_TIME = 276,
  FS_CMD_COMPRESS = 277,
  FS_CMD_GET_EXTRACT_LIST = 280,
  FS_CMD_EXTRACT = 281,
  FS_CMD_GET_DOMAIN_IP_LIST = 284,
  FS_CMD_VIDEO_QUEUE = 286,
  FS_CMD_DELETE_TRANSCODE = 287,
  FS_CMD_START_CHUNKED_UPLOAD = 288,
  FS_CMD_CHUNKED_UPLOAD = 289,
  FS_CMD_DELETE_CHUNKED_UPLOAD = 290,
  FS_CMD_GET_STATUS_LIST = 291,  // get_list, read into status records
  FS_CMD_SEARCH_STATUS = 292,    // search, read into status records
  FS_CMD_READ_RANGE = 293,
};

enum SYSCommand : int {
  SYS_CMD_LOGIN = 513,
  SYS_CMD_LOGOUT = 514,
  SYS_CMD_GET_SYSTEM_SETTING = 515,
  SYS_CMD_ENABLE_WEB_FILE_MANAGER = 516,
};

// The _VESK_HTTP_OPERATION_ a file-service notification carries for a command; 0 for codes
// without a public operation of their own.
int FileStationOperationOf(int command);
// The _VESK_HTTP_SYSTEM_OPERATION_ of a system command.
int SystemOperationOf(int command);

}  // namespace vesk
