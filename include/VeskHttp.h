// VeskHttp: client library for a network storage device's web administration API.
//
// A caller names a device with a CVeskHttpServerInfo, logs in through CVeskHttpServer
// and then works through the file service (IVeskHttpFileStation) and the system service
// (IVeskHttpSystem). Every operation reports its outcome as a _VESK_HTTP_API_RESULT_;
// no exception leaves the library.
//
// Conventions of this header:
//  - wide text in and out is wchar_t (UTF-16 on Windows, UTF-32 elsewhere), null-terminated;
//  - 32-bit integers are int, 64-bit integers long long, user data is void*;
//  - a cancel flag is an int* the caller sets to 1 from another thread to cancel;
//  - text getters return a pointer into the record, valid until the record changes or dies.
#ifndef VESK_HTTP_H
#define VESK_HTTP_H

#include <string>
#include <vector>

#if defined(_WIN32)
#if defined(VESK_HTTP_BUILDING)
#define VESK_HTTP_API __declspec(dllexport)
#else
#define VESK_HTTP_API __declspec(dllimport)
#endif
#else
#define VESK_HTTP_API __attribute__((visibility("default")))
#endif

// ---------------------------------------------------------------------------------------
// Result codes and enumerations. The numbers are part of the contract.
// ---------------------------------------------------------------------------------------

enum _VESK_HTTP_API_RESULT_ {
  VESK_HTTP_SUCCESS = 0,            // the operation succeeded
  VESK_HTTP_IN_PROGRESS = 1,        // progress notifications only; never a final result
  VESK_HTTP_CANCELLED = 2,          // the caller cancelled the request
  VESK_HTTP_SERVER_FAILED = 50,     // HTTP 200, but the reply does not parse or reports failure
  VESK_HTTP_SEND_FAILED = 100,      // the exchange itself failed (connect, send, receive, time-out)
  VESK_HTTP_BAD_HTTP_STATUS = 101,  // the device answered with an HTTP status other than 200
  VESK_HTTP_INVALID_REQUEST = 200,  // the request cannot be carried out locally
  VESK_HTTP_NOT_LOGGED_IN = 400,    // the station is not logged in
  VESK_HTTP_LOGIN_FAILED = 401,     // the device refused the login
  VESK_HTTP_THREAD_FAILED = 500,    // the worker thread of an asynchronous request failed to start
  VESK_HTTP_BAD_STATION_TYPE = 600,  // Login was given an unknown station type
  VESK_HTTP_DEVICE_STATUS_2 = 700,   // the device's reply carried status 2
  VESK_HTTP_DEVICE_STATUS_5 = 701,   // the device's reply carried status 5
  VESK_HTTP_DEVICE_STATUS_4 = 702,   // the device's reply carried status 4
  VESK_HTTP_DEVICE_STATUS_9 = 704,   // the device's reply carried status 9
  VESK_HTTP_CHUNK_STATUS_5 = 705     // one chunk of a chunked upload was answered with status 5
};

enum _VESK_HTTP_STATION_TYPE_ { VESK_HTTP_STATION_SYSTEM = 0, VESK_HTTP_STATION_FILE_STATION = 1 };

enum _VESK_HTTP_FILE_STATION_API_VERSION_ {
  VESK_HTTP_FILE_STATION_API_VERSION_NONE = 0,
  VESK_HTTP_FILE_STATION_API_VERSION_1 = 1
};

enum _VESK_HTTP_SYSTEM_API_VERSION_ {
  VESK_HTTP_SYSTEM_API_VERSION_NONE = 0,
  VESK_HTTP_SYSTEM_API_VERSION_1 = 1
};

// Sent at file-service login, derived from the caller's computer name.
enum _VESK_HTTP_DEVICE_TYPE_ {
  VESK_HTTP_DEVICE_COMPUTER = 1,  // the name contains "_COMPUTER"
  VESK_HTTP_DEVICE_MOBILE = 2,    // the name contains "_MOBILE"
  VESK_HTTP_DEVICE_WEB = 3,       // the name contains "_WEB"
  VESK_HTTP_DEVICE_OTHER = 4      // none of them
};

// The operation named in every file-service notification. Overloads and the synchronous
// and asynchronous forms of one operation share a code.
enum _VESK_HTTP_OPERATION_ {
  VESK_HTTP_OP_NONE = 0,
  VESK_HTTP_OP_GET_FILE_LIST_COUNT = 1,
  VESK_HTTP_OP_GET_FILE_LIST = 2,
  VESK_HTTP_OP_GET_SHARE_FOLDER_LIST = 3,
  VESK_HTTP_OP_CREATE_SHARE_LINK = 4,
  VESK_HTTP_OP_GET_SHARE_LINK_LIST = 5,
  VESK_HTTP_OP_DELETE_SHARE_LINK = 6,
  VESK_HTTP_OP_CREATE_FOLDER = 7,
  VESK_HTTP_OP_COPY_FILE = 8,
  VESK_HTTP_OP_MOVE_FILE = 9,
  VESK_HTTP_OP_DELETE_FILE = 10,
  VESK_HTTP_OP_UPLOAD_FILE = 11,
  VESK_HTTP_OP_DOWNLOAD_FILE = 12,
  VESK_HTTP_OP_GET_FILE_STATUS = 13,
  VESK_HTTP_OP_SEARCH_FILE = 14,
  VESK_HTTP_OP_RENAME_FILE = 15,
  VESK_HTTP_OP_SET_FILE_MODIFY_TIME = 16,
  VESK_HTTP_OP_COMPRESS_FILE = 17,
  VESK_HTTP_OP_GET_EXTRACT_LIST = 18,
  VESK_HTTP_OP_EXTRACT_FILE = 19,
  VESK_HTTP_OP_GET_DOMAIN_IP_LIST = 20,
  VESK_HTTP_OP_ADD_VIDEO_TRANSCODE = 21,
  VESK_HTTP_OP_DELETE_VIDEO_TRANSCODE = 22,
  VESK_HTTP_OP_START_CHUNKED_UPLOAD = 23,
  VESK_HTTP_OP_CHUNKED_UPLOAD_FILE = 24,
  VESK_HTTP_OP_DELETE_CHUNKED_UPLOAD_FILE = 25
};

// The operation named in every system-service notification.
enum _VESK_HTTP_SYSTEM_OPERATION_ {
  VESK_HTTP_SYS_OP_NONE = 0,
  VESK_HTTP_SYS_OP_GET_SYSTEM_SETTING = 1,
  VESK_HTTP_SYS_OP_ENABLE_WEB_FILE_MANAGER = 2
};

// ---------------------------------------------------------------------------------------
// Notifications and callbacks.
// ---------------------------------------------------------------------------------------

class IVeskHttpFileStationRequestBase;
class IVeskHttpSystemRequestBase;

// Handed to a file-service notification callback; valid only during the call.
struct _VESK_HTTP_NOTIFY_INFO_ {
  int result;       // VESK_HTTP_IN_PROGRESS while running, the final result at completion
  int operation;    // _VESK_HTTP_OPERATION_
  int percent;      // percent done of a device job (copy, move, compress, extract)
  long long bytes;  // bytes transferred so far (upload, download)
  IVeskHttpFileStationRequestBase* request;  // the request, in the completion notification
  void* userData;                            // the caller's user data
};

// Handed to a system-service notification callback; valid only during the call.
struct _VESK_HTTP_SYSTEM_NOTIFY_INFO_ {
  int result;     // the request's final result
  int operation;  // _VESK_HTTP_SYSTEM_OPERATION_
  IVeskHttpSystemRequestBase* request;
  void* userData;
};

typedef void (*VESK_HTTP_NOTIFY_CALLBACK)(_VESK_HTTP_NOTIFY_INFO_* info);
// amount: bytes transferred (uploads, downloads) or percent done (device jobs).
typedef void (*VESK_HTTP_PROGRESS_CALLBACK)(void* userData, long long amount);
typedef void (*VESK_HTTP_SYSTEM_NOTIFY_CALLBACK)(_VESK_HTTP_SYSTEM_NOTIFY_INFO_* info);

// ---------------------------------------------------------------------------------------
// Value records. Text setters and constructors copy the caller's text, which must not be
// null; getters never return null. Copies are independent of their source.
// ---------------------------------------------------------------------------------------

// Where and as whom to connect.
class VESK_HTTP_API CVeskHttpServerInfo {
 public:
  CVeskHttpServerInfo();
  CVeskHttpServerInfo(const wchar_t* hostName, const wchar_t* username, const wchar_t* password,
                      int secureMode, const wchar_t* computerName);
  CVeskHttpServerInfo(const CVeskHttpServerInfo& other);
  CVeskHttpServerInfo& operator=(const CVeskHttpServerInfo& other);
  ~CVeskHttpServerInfo();

  const wchar_t* GetHostName() const;
  const wchar_t* GetUsername() const;
  const wchar_t* GetPassword() const;
  int IsSecureMode() const;  // 1: use SSL
  // Identifies the calling machine to the file service at login; may be empty.
  const wchar_t* GetComputerName() const;

 private:
  std::wstring hostName_;
  std::wstring username_;
  std::wstring password_;
  int secureMode_;
  std::wstring computerName_;
};

// One entry of a folder listing or search result.
class VESK_HTTP_API CVeskHttpFileEntry {
 public:
  CVeskHttpFileEntry();
  CVeskHttpFileEntry(int isDir, long long fileSize, const wchar_t* filePath,
                     const wchar_t* fileName);
  CVeskHttpFileEntry(const CVeskHttpFileEntry& other);
  CVeskHttpFileEntry& operator=(const CVeskHttpFileEntry& other);
  ~CVeskHttpFileEntry();

  int IsDir() const;
  void SetDir(int isDir);
  long long GetFileSize() const;
  void SetFileSize(long long fileSize);
  const wchar_t* GetFilePath() const;  // the folder that holds the entry
  void SetFilePath(const wchar_t* filePath);
  const wchar_t* GetFileName() const;
  void SetFileName(const wchar_t* fileName);

 private:
  int isDir_;
  long long fileSize_;
  std::wstring filePath_;
  std::wstring fileName_;
};

// The status of one file or folder.
class VESK_HTTP_API CVeskHttpFileStatus {
 public:
  CVeskHttpFileStatus();
  CVeskHttpFileStatus(int isDir, int isCompressed, long long fileSize,
                      const wchar_t* folderPermission, const wchar_t* filePath,
                      const wchar_t* fileName, const wchar_t* group, const wchar_t* owner,
                      const wchar_t* modifyTime);
  CVeskHttpFileStatus(const CVeskHttpFileStatus& other);
  CVeskHttpFileStatus& operator=(const CVeskHttpFileStatus& other);
  ~CVeskHttpFileStatus();

  int IsDir() const;
  void SetDir(int isDir);
  int IsCommpressed() const;
  void SetCompressed(int isCompressed);
  long long GetFileSize() const;
  void SetFileSize(long long fileSize);
  const wchar_t* GetFolderPermission() const;  // "ReadWrite", "ReadOnly" or "AccessDenied"
  void SetFolderPermission(const wchar_t* folderPermission);
  const wchar_t* GetFilePath() const;
  void SetFilePath(const wchar_t* filePath);
  const wchar_t* GetFileName() const;
  void SetFileName(const wchar_t* fileName);
  const wchar_t* GetGroup() const;
  void SetGroup(const wchar_t* group);
  const wchar_t* GetOwner() const;
  void SetOwner(const wchar_t* owner);
  const wchar_t* GetMT() const;  // modification time, as the device writes it
  void SetMT(const wchar_t* modifyTime);

 private:
  int isDir_;
  int isCompressed_;
  long long fileSize_;
  std::wstring folderPermission_;
  std::wstring filePath_;
  std::wstring fileName_;
  std::wstring group_;
  std::wstring owner_;
  std::wstring modifyTime_;
};

// One entry of an archive's content list.
class VESK_HTTP_API CVeskHttpExtractEntry {
 public:
  CVeskHttpExtractEntry();
  CVeskHttpExtractEntry(int isDir, long long fileSize, long long compressFileSize,
                        const wchar_t* modifyTime, const wchar_t* fileName);
  CVeskHttpExtractEntry(const CVeskHttpExtractEntry& other);
  CVeskHttpExtractEntry& operator=(const CVeskHttpExtractEntry& other);
  ~CVeskHttpExtractEntry();

  int IsDir() const;
  void SetDir(int isDir);
  long long GetFileSize() const;
  void SetFileSize(long long fileSize);
  long long GetCompressFileSize() const;
  void SetCompressFileSize(long long compressFileSize);
  const wchar_t* GetModifyTime() const;
  void SetModifyTime(const wchar_t* modifyTime);
  const wchar_t* GetFileName() const;
  void SetFileName(const wchar_t* fileName);

 private:
  int isDir_;
  long long fileSize_;
  long long compressFileSize_;
  std::wstring modifyTime_;
  std::wstring fileName_;
};

// A share link as the device reports it.
class VESK_HTTP_API CVeskHttpShareLink {
 public:
  CVeskHttpShareLink();
  CVeskHttpShareLink(const CVeskHttpShareLink& other);
  CVeskHttpShareLink& operator=(const CVeskHttpShareLink& other);
  ~CVeskHttpShareLink();

  const wchar_t* GetFileName() const;
  void SetFileName(const wchar_t* fileName);
  const wchar_t* GetExpireTime() const;
  void SetExpireTime(const wchar_t* expireTime);
  const wchar_t* GetURL() const;
  void SetURL(const wchar_t* url);

 private:
  std::wstring fileName_;
  std::wstring expireTime_;
  std::wstring url_;
};

// What the caller asks for when creating a share link.
class VESK_HTTP_API CVeskHttpShareLinkInfo {
 public:
  CVeskHttpShareLinkInfo(const wchar_t* shareFilePath, const wchar_t* password,
                         const wchar_t* dateTime, int isSecureMode);
  CVeskHttpShareLinkInfo(const CVeskHttpShareLinkInfo& other);
  CVeskHttpShareLinkInfo& operator=(const CVeskHttpShareLinkInfo& other);
  ~CVeskHttpShareLinkInfo();

  const wchar_t* GetShareFilePath() const;
  void SetShareFilePath(const wchar_t* shareFilePath);
  const wchar_t* GetPassword() const;
  void SetPassword(const wchar_t* password);
  const wchar_t* GetDateTime() const;  // expiry
  void SetDateTime(const wchar_t* dateTime);
  int IsSecureMode() const;  // 1: the link uses SSL
  void SetIsSecureMode(int isSecureMode);

 private:
  std::wstring shareFilePath_;
  std::wstring password_;
  std::wstring dateTime_;
  int isSecureMode_;
};

// The device's names and addresses.
class VESK_HTTP_API CVeskHttpNASInfo {
 public:
  CVeskHttpNASInfo();
  CVeskHttpNASInfo(const wchar_t* farlinkNasName, const wchar_t* nasExternalIP,
                   const wchar_t* nasLocalIP, const wchar_t* nasHostIP);
  CVeskHttpNASInfo(const CVeskHttpNASInfo& other);
  CVeskHttpNASInfo& operator=(const CVeskHttpNASInfo& other);
  ~CVeskHttpNASInfo();

  const wchar_t* GetFarlinkNasName() const;  // cloud-service device name
  void SetFarlinkNasName(const wchar_t* farlinkNasName);
  const wchar_t* GetNasExternalIP() const;
  void SetNasExternalIP(const wchar_t* nasExternalIP);
  const wchar_t* GetNasLocalIP() const;
  void SetNasLocalIP(const wchar_t* nasLocalIP);
  const wchar_t* GetNasHostIP() const;
  void SetNasHostIP(const wchar_t* nasHostIP);

 private:
  std::wstring farlinkNasName_;
  std::wstring nasExternalIP_;
  std::wstring nasLocalIP_;
  std::wstring nasHostIP_;
};

// The device's web-server settings.
class VESK_HTTP_API CVeskHttpSystemSettingInfo {
 public:
  CVeskHttpSystemSettingInfo();
  CVeskHttpSystemSettingInfo(const wchar_t* serverName, int sysPort, int isSSL, int sysSSLPort,
                             int isSSLForce);
  CVeskHttpSystemSettingInfo(const CVeskHttpSystemSettingInfo& other);
  CVeskHttpSystemSettingInfo& operator=(const CVeskHttpSystemSettingInfo& other);
  ~CVeskHttpSystemSettingInfo();

  const wchar_t* GetServerName() const;
  void SetServerName(const wchar_t* serverName);
  int GetSYSPort() const;
  void SetSYSPort(int sysPort);
  int IsSSL() const;
  void SetSSL(int isSSL);
  int GetSYSSSLPort() const;
  void SetSYSSSLPort(int sysSSLPort);
  int IsSSLForce() const;
  void SetSSLForce(int isSSLForce);

 private:
  std::wstring serverName_;
  int sysPort_;
  int isSSL_;
  int sysSSLPort_;
  int isSSLForce_;
};

// ---------------------------------------------------------------------------------------
// Request handles of asynchronous operations. A handle is valid until the caller gives it
// back to its station's CloseRequest; outputs are read after the completion notification.
// ---------------------------------------------------------------------------------------

class VESK_HTTP_API IVeskHttpFileStationRequestBase {
 public:
  // Stops the request: a request that has not started never runs; a running one ends
  // with VESK_HTTP_CANCELLED. Returns 1.
  virtual int Cancel() = 0;
  virtual int GetTotalCount() const = 0;
  virtual std::vector<CVeskHttpFileEntry>* GetFileEntryList() = 0;
  virtual std::vector<CVeskHttpExtractEntry>* GetExtractEntryList() = 0;
  virtual CVeskHttpShareLink GetShareLinkResult() const = 0;
  virtual std::vector<CVeskHttpShareLink>* GetShareLinkList() = 0;
  virtual CVeskHttpFileStatus GetFileStatusResult() const = 0;
  virtual CVeskHttpNASInfo GetNASInfoResult() const = 0;
  virtual const wchar_t* GetResultString() const = 0;

 protected:
  // Released through IVeskHttpFileStation::CloseRequest, never deleted by the caller.
  virtual ~IVeskHttpFileStationRequestBase() = default;
  virtual void Execute() = 0;
};

class VESK_HTTP_API IVeskHttpSystemRequestBase {
 public:
  virtual int Cancel() = 0;
  virtual CVeskHttpSystemSettingInfo GetSystemSettingResult() const = 0;

 protected:
  // Released through IVeskHttpSystem::CloseRequest, never deleted by the caller.
  virtual ~IVeskHttpSystemRequestBase() = default;
  virtual void Execute() = 0;
};

// ---------------------------------------------------------------------------------------
// The file service. Synchronous operations take, after their own arguments, the caller's
// cancel flag (may be null) and, where they report progress, user data and a progress
// callback; they append to output lists without clearing them and write outputs only on
// VESK_HTTP_SUCCESS. Asynchronous operations take user data and a notification callback
// last and return a request handle, or null when the station is not logged in. Operations
// may be called from several threads at once. A notification callback must not release
// its own request.
// ---------------------------------------------------------------------------------------

typedef _VESK_HTTP_API_RESULT_ VESK_HTTP_RESULT;
typedef IVeskHttpFileStationRequestBase* VESK_HTTP_REQUEST;

class VESK_HTTP_API IVeskHttpFileStation {
 public:
  // Share roots, folder counts and folder pages.
  virtual VESK_HTTP_RESULT GetShareFolderList(int* cancelFlag,
                                              std::vector<CVeskHttpFileEntry>* list) = 0;
  virtual VESK_HTTP_RESULT GetFileListCount(const wchar_t* folderPath, int* cancelFlag,
                                            int* count) = 0;
  virtual VESK_HTTP_RESULT GetFileList(const wchar_t* folderPath, int startIndex, int limit,
                                       int* cancelFlag, std::vector<CVeskHttpFileEntry>* list) = 0;
  // Links to the device's viewer and thumbnails; no request is made.
  virtual VESK_HTTP_RESULT GetViewerURL(const wchar_t* filePath, std::wstring* url) = 0;
  virtual VESK_HTTP_RESULT GetThumbnailURL(const wchar_t* filePath, std::wstring* url) = 0;
  // Whole-file and chunked uploads.
  virtual VESK_HTTP_RESULT UploadFile(const wchar_t* localPath, const wchar_t* deviceFolder,
                                      int* cancelFlag, void* userData,
                                      VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  virtual VESK_HTTP_RESULT StartChunkedUpload(const wchar_t* tempFolder, int* cancelFlag,
                                              std::wstring* uploadId) = 0;
  virtual VESK_HTTP_RESULT ChunkedUploadFile(const wchar_t* localPath, const wchar_t* deviceFolder,
                                             const wchar_t* newName, const wchar_t* uploadId,
                                             const wchar_t* tempFolder, int* cancelFlag,
                                             void* userData,
                                             VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  virtual VESK_HTTP_RESULT DeleteChunkedUploadFile(const wchar_t* uploadId,
                                                   const wchar_t* tempFolder, int* cancelFlag) = 0;
  // Downloads, resumable at an offset of the local file.
  virtual VESK_HTTP_RESULT DownloadFile(CVeskHttpFileEntry entry, const wchar_t* localPath,
                                        long long offset, int* cancelFlag, void* userData,
                                        VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  virtual VESK_HTTP_RESULT DownloadFile(const wchar_t* devicePath, const wchar_t* localPath,
                                        long long offset, int* cancelFlag, void* userData,
                                        VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  // Share links.
  virtual VESK_HTTP_RESULT CreateShareLink(CVeskHttpShareLinkInfo info, int* cancelFlag,
                                           CVeskHttpShareLink* link) = 0;
  virtual VESK_HTTP_RESULT GetShareLinkList(int limit, int* cancelFlag,
                                            std::vector<CVeskHttpShareLink>* list) = 0;
  virtual VESK_HTTP_RESULT DeleteShareLink(CVeskHttpShareLink link, int* cancelFlag) = 0;
  // Changes to the file tree.
  virtual VESK_HTTP_RESULT CreateFolder(const wchar_t* parentPath, const wchar_t* name,
                                        int* cancelFlag) = 0;
  virtual VESK_HTTP_RESULT CreateFolder(CVeskHttpFileEntry parent, const wchar_t* name,
                                        int* cancelFlag) = 0;
  virtual VESK_HTTP_RESULT CopyFile(const wchar_t* sourcePath, const wchar_t* destFolder, int mode,
                                    int* cancelFlag, void* userData,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  virtual VESK_HTTP_RESULT CopyFile(CVeskHttpFileEntry source, const wchar_t* destFolder, int mode,
                                    int* cancelFlag, void* userData,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  virtual VESK_HTTP_RESULT MoveFile(const wchar_t* sourcePath, const wchar_t* destFolder, int mode,
                                    int* cancelFlag, void* userData,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  virtual VESK_HTTP_RESULT MoveFile(CVeskHttpFileEntry source, const wchar_t* destFolder, int mode,
                                    int* cancelFlag, void* userData,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  virtual VESK_HTTP_RESULT DeleteFile(const wchar_t* path, int* cancelFlag) = 0;
  virtual VESK_HTTP_RESULT DeleteFile(CVeskHttpFileEntry item, int* cancelFlag) = 0;
  virtual VESK_HTTP_RESULT RenameFile(const wchar_t* path, const wchar_t* newName,
                                      int* cancelFlag) = 0;
  virtual VESK_HTTP_RESULT SetFileModifyTime(const wchar_t* path, int modifyTime, int* cancelFlag,
                                             CVeskHttpFileStatus* status) = 0;
  // Search and status.
  virtual VESK_HTTP_RESULT SearchFile(const wchar_t* folderPath, const wchar_t* keyword, int limit,
                                      int* cancelFlag, std::vector<CVeskHttpFileEntry>* list) = 0;
  virtual VESK_HTTP_RESULT GetFileStatus(const wchar_t* path, int* cancelFlag,
                                         CVeskHttpFileStatus* status) = 0;
  // Archives.
  virtual VESK_HTTP_RESULT CompressFile(const wchar_t* archiveName, const wchar_t* folderPath,
                                        int fileCount, const std::vector<const wchar_t*>& names,
                                        int format, const wchar_t* password, int level,
                                        int encryption, int updateMode, int* cancelFlag,
                                        void* userData, VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  virtual VESK_HTTP_RESULT GetExtractList(const wchar_t* archivePath, int startIndex, int limit,
                                          int* cancelFlag,
                                          std::vector<CVeskHttpExtractEntry>* list) = 0;
  virtual VESK_HTTP_RESULT ExtractFile(const wchar_t* archivePath, const wchar_t* destFolder,
                                       const wchar_t* password, int mode, int fileCount,
                                       const std::vector<const wchar_t*>& names, int overwrite,
                                       int pathMode, int* cancelFlag, void* userData,
                                       VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  // Addresses and video transcoding.
  virtual VESK_HTTP_RESULT GetDomainIPList(int* cancelFlag, CVeskHttpNASInfo* info) = 0;
  virtual VESK_HTTP_RESULT AddVideoTranscode(const wchar_t* path, int* cancelFlag) = 0;
  virtual VESK_HTTP_RESULT DeleteVideoTranscode(const wchar_t* path, int* cancelFlag) = 0;

  // Releases an asynchronous request of this station and nulls the caller's pointer: a
  // running request is cancelled and waited for. A request of another station, or null, is
  // left alone. Returns 1.
  virtual int CloseRequest(IVeskHttpFileStationRequestBase** request) = 0;

  virtual VESK_HTTP_REQUEST GetShareFolderListAsync(void* userData,
                                                    VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST GetFileListCountAsync(const wchar_t* folderPath, void* userData,
                                                  VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST GetFileListAsync(const wchar_t* folderPath, int startIndex, int limit,
                                             void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST CreateShareLinkAsync(CVeskHttpShareLinkInfo info, void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST GetShareLinkListAsync(int limit, void* userData,
                                                  VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST DeleteShareLinkAsync(CVeskHttpShareLink link, void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST UploadFileAsync(const wchar_t* localPath, const wchar_t* deviceFolder,
                                            void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST StartChunkedUploadAsync(const wchar_t* tempFolder, void* userData,
                                                    VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST ChunkedUploadFileAsync(const wchar_t* localPath,
                                                   const wchar_t* deviceFolder,
                                                   const wchar_t* newName, const wchar_t* uploadId,
                                                   const wchar_t* tempFolder, void* userData,
                                                   VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST DeleteChunkedUploadFileAsync(const wchar_t* uploadId,
                                                         const wchar_t* tempFolder, void* userData,
                                                         VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST DownloadFileAsync(const wchar_t* devicePath, const wchar_t* localPath,
                                              long long offset, void* userData,
                                              VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST DownloadFileAsync(CVeskHttpFileEntry entry, const wchar_t* localPath,
                                              long long offset, void* userData,
                                              VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST CreateFolderAsync(const wchar_t* parentPath, const wchar_t* name,
                                              void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST CreateFolderAsync(CVeskHttpFileEntry parent, const wchar_t* name,
                                              void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST CopyFileAsync(const wchar_t* sourcePath, const wchar_t* destFolder,
                                          int mode, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST CopyFileAsync(CVeskHttpFileEntry source, const wchar_t* destFolder,
                                          int mode, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST MoveFileAsync(const wchar_t* sourcePath, const wchar_t* destFolder,
                                          int mode, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST MoveFileAsync(CVeskHttpFileEntry source, const wchar_t* destFolder,
                                          int mode, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST DeleteFileAsync(const wchar_t* path, void* userData,
                                            VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST DeleteFileAsync(CVeskHttpFileEntry item, void* userData,
                                            VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST RenameFileAsync(const wchar_t* path, const wchar_t* newName,
                                            void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST SetFileModifyTimeAsync(const wchar_t* path, int modifyTime,
                                                   void* userData,
                                                   VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST SearchFileAsync(const wchar_t* folderPath, const wchar_t* keyword,
                                            int limit, void* userData,
                                            VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST GetFileStatusAsync(const wchar_t* path, void* userData,
                                               VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST CompressFileAsync(const wchar_t* archiveName, const wchar_t* folderPath,
                                              int fileCount,
                                              const std::vector<const wchar_t*>& names, int format,
                                              const wchar_t* password, int level, int encryption,
                                              int updateMode, void* userData,
                                              VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST GetExtractListAsync(const wchar_t* archivePath, int startIndex,
                                                int limit, void* userData,
                                                VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST ExtractFileAsync(const wchar_t* archivePath, const wchar_t* destFolder,
                                             const wchar_t* password, int mode, int fileCount,
                                             const std::vector<const wchar_t*>& names,
                                             int overwrite, int pathMode, void* userData,
                                             VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST GetDomainIPListAsync(void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST AddVideoTranscodeAsync(const wchar_t* path, void* userData,
                                                   VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  virtual VESK_HTTP_REQUEST DeleteVideoTranscodeAsync(const wchar_t* path, void* userData,
                                                      VESK_HTTP_NOTIFY_CALLBACK notify) = 0;

 protected:
  // Closed and destroyed by CVeskHttpServer::CloseFileStation.
  virtual ~IVeskHttpFileStation() = default;
};

// ---------------------------------------------------------------------------------------
// The system service.
// ---------------------------------------------------------------------------------------

class VESK_HTTP_API IVeskHttpSystem {
 public:
  // The device's web-server settings; the record is written only on VESK_HTTP_SUCCESS.
  virtual VESK_HTTP_RESULT GetSystemSetting(int* cancelFlag,
                                            CVeskHttpSystemSettingInfo* settings) = 0;
  // Switches the device's web file manager on.
  virtual VESK_HTTP_RESULT EnableWebFileManager(int* cancelFlag) = 0;
  // Releases an asynchronous request of this system object; see the file service's.
  virtual int CloseRequest(IVeskHttpSystemRequestBase** request) = 0;
  virtual IVeskHttpSystemRequestBase* GetSystemSettingAsync(
      void* userData, VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) = 0;
  virtual IVeskHttpSystemRequestBase* EnableWebFileManagerAsync(
      void* userData, VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) = 0;

 protected:
  // Closed and destroyed by CVeskHttpServer::CloseSystem.
  virtual ~IVeskHttpSystem() = default;
};

// ---------------------------------------------------------------------------------------
// The caller's entry point: one object per device. Login creates and logs in a station;
// Open hands it out (the server keeps it); Close logs it out and destroys it. The caller
// closes its stations, after releasing their request handles, before destroying the server.
// ---------------------------------------------------------------------------------------

class VESK_HTTP_API CVeskHttpServer {
 public:
  CVeskHttpServer();
  explicit CVeskHttpServer(CVeskHttpServerInfo info);
  // Copies share the stations: close each station once.
  CVeskHttpServer(const CVeskHttpServer& other);
  CVeskHttpServer& operator=(const CVeskHttpServer& other);
  ~CVeskHttpServer();

  // Settings copied into each station at its login; they return 1.
  int SetFileStationPortNum(long port);     // default 8080
  int SetFileStationSSLPortNum(long port);  // default 443
  int SetSystemPortNum(long port);          // default 8080
  int SetSystemSSLPortNum(long port);       // default 443
  int SetAgentName(const wchar_t* agentName);
  // Milliseconds for name resolution, connect, send and receive alike; 0 or less keeps the
  // defaults (no limit, 60 s, 30 s, 30 s).
  int SetTimeouts(int timeoutMs);

  // VESK_HTTP_STATION_FILE_STATION logs in to the file service (through the system's session
  // when the system is logged in), VESK_HTTP_STATION_SYSTEM to the system service.
  VESK_HTTP_RESULT Login(_VESK_HTTP_STATION_TYPE_ type);
  IVeskHttpFileStation* OpenFileStation();
  IVeskHttpSystem* OpenSystem();
  // Logs out and destroys the station, then nulls the caller's pointer. On a failed logout
  // the station stays open. A null pointer answers VESK_HTTP_NOT_LOGGED_IN.
  VESK_HTTP_RESULT CloseFileStation(IVeskHttpFileStation** station);
  VESK_HTTP_RESULT CloseSystem(IVeskHttpSystem** system);
  _VESK_HTTP_FILE_STATION_API_VERSION_ QueryFileStationVersion();
  _VESK_HTTP_SYSTEM_API_VERSION_ QuerySystemVersion();

 private:
  CVeskHttpServerInfo info_;
  IVeskHttpFileStation* fileStation_;
  IVeskHttpSystem* system_;
  int fileStationPort_;
  int fileStationSSLPort_;
  int systemPort_;
  int systemSSLPort_;
  std::wstring agentName_;
  int timeout_;
  _VESK_HTTP_FILE_STATION_API_VERSION_ fileStationVersion_;
  _VESK_HTTP_SYSTEM_API_VERSION_ systemVersion_;
};

// The three sequence types exchanged with callers; the library exports their code so that
// callers and the library agree on one instantiation. (The library's own sources refer to it
// too: a hidden copy made elsewhere in the library would hide the exported one.)
extern template class std::vector<CVeskHttpFileEntry>;
extern template class std::vector<CVeskHttpExtractEntry>;
extern template class std::vector<CVeskHttpShareLink>;

#endif  // VESK_HTTP_H
