#include "filestation/Commands.h"

#include <array>

#include "VeskHttp.h"

namespace vesk {

int FileStationOperationOf(int command) {
  if (command == FS_CMD_READ_RANGE) return VESK_HTTP_OP_READ_FILE_RANGE;
  // Indexed by command - FS_CMD_LOGIN.
  static constexpr std::array<int, 36> kOperations = {
      VESK_HTTP_OP_NONE,                        // 257 login
      VESK_HTTP_OP_NONE,                        // 258 sid fetch
      VESK_HTTP_OP_NONE,                        // 259 logout
      VESK_HTTP_OP_GET_SHARE_FOLDER_LIST,       // 260
      VESK_HTTP_OP_GET_FILE_LIST_COUNT,         // 261
      VESK_HTTP_OP_GET_FILE_LIST,               // 262
      VESK_HTTP_OP_GET_FILE_STATUS,             // 263
      VESK_HTTP_OP_SEARCH_FILE,                 // 264
      VESK_HTTP_OP_CREATE_FOLDER,               // 265
      VESK_HTTP_OP_DELETE_FILE,                 // 266
      VESK_HTTP_OP_COPY_FILE,                   // 267
      VESK_HTTP_OP_NONE,                        // 268
      VESK_HTTP_OP_MOVE_FILE,                   // 269
      VESK_HTTP_OP_CREATE_SHARE_LINK,           // 270
      VESK_HTTP_OP_GET_SHARE_LINK_LIST,         // 271
      VESK_HTTP_OP_DELETE_SHARE_LINK,           // 272
      VESK_HTTP_OP_UPLOAD_FILE,                 // 273
      VESK_HTTP_OP_DOWNLOAD_FILE,               // 274
      VESK_HTTP_OP_RENAME_FILE,                 // 275
      VESK_HTTP_OP_SET_FILE_MODIFY_TIME,        // 276
      VESK_HTTP_OP_COMPRESS_FILE,               // 277
      VESK_HTTP_OP_NONE,                        // 278
      VESK_HTTP_OP_NONE,                        // 279
      VESK_HTTP_OP_GET_EXTRACT_LIST,            // 280
      VESK_HTTP_OP_EXTRACT_FILE,                // 281
      VESK_HTTP_OP_NONE,                        // 282
      VESK_HTTP_OP_NONE,                        // 283
      VESK_HTTP_OP_GET_DOMAIN_IP_LIST,          // 284
      VESK_HTTP_OP_NONE,                        // 285
      VESK_HTTP_OP_ADD_VIDEO_TRANSCODE,         // 286
      VESK_HTTP_OP_DELETE_VIDEO_TRANSCODE,      // 287
      VESK_HTTP_OP_START_CHUNKED_UPLOAD,        // 288
      VESK_HTTP_OP_CHUNKED_UPLOAD_FILE,         // 289
      VESK_HTTP_OP_DELETE_CHUNKED_UPLOAD_FILE,  // 290
      VESK_HTTP_OP_GET_FILE_STATUS_LIST,        // 291
      VESK_HTTP_OP_SEARCH_FILE_STATUS,          // 292
  };
  const int index = command - FS_CMD_LOGIN;
  return index >= 0 && index < static_cast<int>(kOperations.size()) ? kOperations[index]
                                                                    : VESK_HTTP_OP_NONE;
}

int SystemOperationOf(int command) {
  switch (command) {
    case SYS_CMD_GET_SYSTEM_SETTING:
      return VESK_HTTP_SYS_OP_GET_SYSTEM_SETTING;
    case SYS_CMD_ENABLE_WEB_FILE_MANAGER:
      return VESK_HTTP_SYS_OP_ENABLE_WEB_FILE_MANAGER;
    default:
      return VESK_HTTP_SYS_OP_NONE;
  }
}

}  // namespace vesk
