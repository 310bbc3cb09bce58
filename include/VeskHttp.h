/// @file
/// VeskHttp: client library for a network storage device's web administration API.
///
/// A caller names a device with a CVeskHttpServerInfo, logs in through CVeskHttpServer
/// and then works through the file service (IVeskHttpFileStation) and the system service
/// (IVeskHttpSystem). Every operation reports its outcome as a \ref _VESK_HTTP_API_RESULT_;
/// no exception leaves the library. This is the only header a caller includes.
///
/// Conventions of this header:
///  - wide text in and out is wchar_t (UTF-16 on Windows, UTF-32 elsewhere), null-terminated;
///  - 32-bit integers are int, 64-bit integers long long, user data is void*;
///  - a cancel flag is an int* the caller sets to 1 from another thread to cancel;
///  - text getters return a pointer into the record, valid until the record changes or dies.
#ifndef VESK_HTTP_H
#define VESK_HTTP_H

#include <string>
#include <vector>

#include "VeskHttpVersion.h"

/// Marks the exported classes: the library exports them and nothing else.
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

/// The outcome of every operation, and the result field of every notification.
///
/// Each operation's documentation lists the codes particular to it. Besides those, any
/// operation that exchanges with the device may end with VESK_HTTP_SEND_FAILED,
/// VESK_HTTP_BAD_HTTP_STATUS, VESK_HTTP_SERVER_FAILED, VESK_HTTP_INVALID_REQUEST (for
/// example when memory runs out) and, when it was cancelled, VESK_HTTP_CANCELLED; and every
/// station operation answers VESK_HTTP_NOT_LOGGED_IN on a station that is not logged in.
enum _VESK_HTTP_API_RESULT_ {
  VESK_HTTP_SUCCESS = 0,  ///< The operation succeeded.
  /// Only in progress notifications of a request still running; never a final result.
  VESK_HTTP_IN_PROGRESS = 1,
  /// The caller cancelled the request (its cancel flag read 1, or Cancel was called). It overrides
  /// every other result.
  VESK_HTTP_CANCELLED = 2,
  /// The device answered HTTP 200, but its reply does not parse or reports a failure.
  VESK_HTTP_SERVER_FAILED = 50,
  /// The exchange itself failed: the device could not be reached, the connection broke (also after
  /// the reply began), or a time-out passed. A transfer keeps what arrived.
  VESK_HTTP_SEND_FAILED = 100,
  /// The device answered with an HTTP status other than 200 (a download's refusal: 403 no session,
  /// 404 no such file, 400 a path it does not take, 416 an offset beyond the end).
  VESK_HTTP_BAD_HTTP_STATUS = 101,
  /// The request cannot be carried out on this side: a local file that cannot be opened, read or
  /// written, an argument the operation refuses, or memory running out.
  VESK_HTTP_INVALID_REQUEST = 200,
  /// The station is not logged in, or there is no station to close.
  VESK_HTTP_NOT_LOGGED_IN = 400,
  /// The device refused the login: wrong user name or password, or no session to log in through.
  VESK_HTTP_LOGIN_FAILED = 401,
  /// The worker thread of an asynchronous request could not start.
  VESK_HTTP_THREAD_FAILED = 500,
  VESK_HTTP_BAD_STATION_TYPE = 600,  ///< CVeskHttpServer::Login was given an unknown type.
  /// The device's reply carried status 2: the target exists already (or, for video transcoding, the
  /// file is queued already).
  VESK_HTTP_DEVICE_STATUS_2 = 700,
  /// The device's reply carried status 5: a name, path or archive the device does not take.
  VESK_HTTP_DEVICE_STATUS_5 = 701,
  /// The device's reply carried status 4: a file or folder that is missing or not permitted.
  VESK_HTTP_DEVICE_STATUS_4 = 702,
  /// The device's reply carried status 9: a limit was reached (too many unfinished chunked uploads
  /// in a folder).
  VESK_HTTP_DEVICE_STATUS_9 = 704,
  /// The device does not know the chunked upload (its status query answered 5).
  VESK_HTTP_CHUNK_STATUS_5 = 705
};

/// The device's two services, as CVeskHttpServer::Login takes them.
enum _VESK_HTTP_STATION_TYPE_ {
  VESK_HTTP_STATION_SYSTEM = 0,       ///< The system service, IVeskHttpSystem.
  VESK_HTTP_STATION_FILE_STATION = 1  ///< The file service, IVeskHttpFileStation.
};

/// The file service's interface version, as CVeskHttpServer::QueryFileStationVersion reports it.
enum _VESK_HTTP_FILE_STATION_API_VERSION_ {
  VESK_HTTP_FILE_STATION_API_VERSION_NONE = 0,  ///< Not logged in yet.
  VESK_HTTP_FILE_STATION_API_VERSION_1 = 1      ///< The interface of this header.
};

/// The system service's interface version, as CVeskHttpServer::QuerySystemVersion reports it.
enum _VESK_HTTP_SYSTEM_API_VERSION_ {
  VESK_HTTP_SYSTEM_API_VERSION_NONE = 0,  ///< Not logged in yet.
  VESK_HTTP_SYSTEM_API_VERSION_1 = 1      ///< The interface of this header.
};

/// The kind of client the file-service login announces, derived from the computer name of
/// the CVeskHttpServerInfo.
enum _VESK_HTTP_DEVICE_TYPE_ {
  VESK_HTTP_DEVICE_COMPUTER = 1,  ///< The name contains "_COMPUTER".
  VESK_HTTP_DEVICE_MOBILE = 2,    ///< The name contains "_MOBILE".
  VESK_HTTP_DEVICE_WEB = 3,       ///< The name contains "_WEB".
  VESK_HTTP_DEVICE_OTHER = 4      ///< None of them.
};

/// The operation named in every file-service notification (the operation of
/// \ref _VESK_HTTP_NOTIFY_INFO_).
/// Overloads and the synchronous and asynchronous forms of one operation share a code; the
/// progress notifications of transfers name VESK_HTTP_OP_UPLOAD_FILE or
/// VESK_HTTP_OP_DOWNLOAD_FILE.
enum _VESK_HTTP_OPERATION_ {
  VESK_HTTP_OP_NONE = 0,                   ///< No operation of its own.
  VESK_HTTP_OP_GET_FILE_LIST_COUNT = 1,    ///< IVeskHttpFileStation::GetFileListCount.
  VESK_HTTP_OP_GET_FILE_LIST = 2,          ///< IVeskHttpFileStation::GetFileList.
  VESK_HTTP_OP_GET_SHARE_FOLDER_LIST = 3,  ///< IVeskHttpFileStation::GetShareFolderList.
  VESK_HTTP_OP_CREATE_SHARE_LINK = 4,      ///< IVeskHttpFileStation::CreateShareLink.
  VESK_HTTP_OP_GET_SHARE_LINK_LIST = 5,    ///< IVeskHttpFileStation::GetShareLinkList.
  VESK_HTTP_OP_DELETE_SHARE_LINK = 6,      ///< IVeskHttpFileStation::DeleteShareLink.
  VESK_HTTP_OP_CREATE_FOLDER = 7,          ///< IVeskHttpFileStation::CreateFolder.
  VESK_HTTP_OP_COPY_FILE = 8,              ///< IVeskHttpFileStation::CopyFile.
  VESK_HTTP_OP_MOVE_FILE = 9,              ///< IVeskHttpFileStation::MoveFile.
  VESK_HTTP_OP_DELETE_FILE = 10,           ///< IVeskHttpFileStation::DeleteFile.
  /// IVeskHttpFileStation::UploadFile; also the progress of every upload.
  VESK_HTTP_OP_UPLOAD_FILE = 11,
  VESK_HTTP_OP_DOWNLOAD_FILE = 12,           ///< IVeskHttpFileStation::DownloadFile.
  VESK_HTTP_OP_GET_FILE_STATUS = 13,         ///< IVeskHttpFileStation::GetFileStatus.
  VESK_HTTP_OP_SEARCH_FILE = 14,             ///< IVeskHttpFileStation::SearchFile.
  VESK_HTTP_OP_RENAME_FILE = 15,             ///< IVeskHttpFileStation::RenameFile.
  VESK_HTTP_OP_SET_FILE_MODIFY_TIME = 16,    ///< IVeskHttpFileStation::SetFileModifyTime.
  VESK_HTTP_OP_COMPRESS_FILE = 17,           ///< IVeskHttpFileStation::CompressFile.
  VESK_HTTP_OP_GET_EXTRACT_LIST = 18,        ///< IVeskHttpFileStation::GetExtractList.
  VESK_HTTP_OP_EXTRACT_FILE = 19,            ///< IVeskHttpFileStation::ExtractFile.
  VESK_HTTP_OP_GET_DOMAIN_IP_LIST = 20,      ///< IVeskHttpFileStation::GetDomainIPList.
  VESK_HTTP_OP_ADD_VIDEO_TRANSCODE = 21,     ///< IVeskHttpFileStation::AddVideoTranscode.
  VESK_HTTP_OP_DELETE_VIDEO_TRANSCODE = 22,  ///< IVeskHttpFileStation::DeleteVideoTranscode.
  VESK_HTTP_OP_START_CHUNKED_UPLOAD = 23,    ///< IVeskHttpFileStation::StartChunkedUpload.
  /// IVeskHttpFileStation::ChunkedUploadFile (its progress: VESK_HTTP_OP_UPLOAD_FILE).
  VESK_HTTP_OP_CHUNKED_UPLOAD_FILE = 24,
  VESK_HTTP_OP_DELETE_CHUNKED_UPLOAD_FILE = 25,  ///< IVeskHttpFileStation::DeleteChunkedUploadFile.
  VESK_HTTP_OP_GET_FILE_STATUS_LIST = 26,        ///< IVeskHttpFileStation::GetFileStatusList (1.1).
  VESK_HTTP_OP_SEARCH_FILE_STATUS = 27,          ///< IVeskHttpFileStation::SearchFileStatus (1.1).
  /// IVeskHttpFileStation::ReadFileRange (1.1; its progress: VESK_HTTP_OP_DOWNLOAD_FILE).
  VESK_HTTP_OP_READ_FILE_RANGE = 28
};

/// The operation named in every system-service notification (the operation of
/// \ref _VESK_HTTP_SYSTEM_NOTIFY_INFO_).
enum _VESK_HTTP_SYSTEM_OPERATION_ {
  VESK_HTTP_SYS_OP_NONE = 0,                    ///< No operation of its own.
  VESK_HTTP_SYS_OP_GET_SYSTEM_SETTING = 1,      ///< IVeskHttpSystem::GetSystemSetting.
  VESK_HTTP_SYS_OP_ENABLE_WEB_FILE_MANAGER = 2  ///< IVeskHttpSystem::EnableWebFileManager.
};

// ---------------------------------------------------------------------------------------
// Notifications and callbacks.
// ---------------------------------------------------------------------------------------

class IVeskHttpFileStationRequestBase;
class IVeskHttpSystemRequestBase;

/// What a file-service notification callback is handed. The record is the library's and is
/// valid only during the call: copy what is needed.
struct _VESK_HTTP_NOTIFY_INFO_ {
  /// VESK_HTTP_IN_PROGRESS in progress notifications; the final result (a
  /// \ref _VESK_HTTP_API_RESULT_) in the completion notification, which comes once, last.
  int result;
  int operation;  ///< The operation, a \ref _VESK_HTTP_OPERATION_.
  /// In progress notifications of a device job (copy, move, compress, extract): its percentage so
  /// far, which never goes back; 0 otherwise.
  int percent;
  /// In progress notifications of a transfer (upload, download): the file's bytes so far, counted
  /// from the file's start (a resumed transfer starts above 0), never going back; 0 otherwise.
  long long bytes;
  /// In the completion notification, the request's handle (as the operation returned it): its
  /// outputs can be read from here on. Null in progress notifications.
  IVeskHttpFileStationRequestBase* request;
  void* userData;  ///< The user data the caller gave the operation.
};

/// What a system-service notification callback is handed; valid only during the call.
struct _VESK_HTTP_SYSTEM_NOTIFY_INFO_ {
  int result;     ///< The request's final result, a \ref _VESK_HTTP_API_RESULT_.
  int operation;  ///< The operation, a \ref _VESK_HTTP_SYSTEM_OPERATION_.
  IVeskHttpSystemRequestBase* request;  ///< The request's handle: its outputs can be read.
  void* userData;                       ///< The user data the caller gave the operation.
};

/// The notification callback of an asynchronous file-service operation.
///
/// It is called with VESK_HTTP_IN_PROGRESS while the request runs (transfers and device jobs
/// only) and once at its end with the final result. Every call comes from the worker thread
/// that runs the request, one of a small pool that runs the asynchronous requests of the whole
/// process, so the callback must return quickly. No lock of the library is held during the
/// call. The callback may
/// call the request's IVeskHttpFileStationRequestBase::Cancel, but must not release its own
/// request (IVeskHttpFileStation::CloseRequest leaves it alone when called from there).
typedef void (*VESK_HTTP_NOTIFY_CALLBACK)(_VESK_HTTP_NOTIFY_INFO_* info);
/// The progress callback of a synchronous file-service operation: `amount` is the file's
/// bytes so far for a transfer (from the file's start, never going back), or the device job's
/// percentage for a copy, move, compress or extract. It is called on the calling thread, while
/// the operation runs there. No lock of the library is held during the call.
typedef void (*VESK_HTTP_PROGRESS_CALLBACK)(void* userData, long long amount);
/// The notification callback of an asynchronous system-service operation: called once, at
/// the end, from the request's worker thread. The rules of VESK_HTTP_NOTIFY_CALLBACK apply.
typedef void (*VESK_HTTP_SYSTEM_NOTIFY_CALLBACK)(_VESK_HTTP_SYSTEM_NOTIFY_INFO_* info);
/// The sink of a ranged read (IVeskHttpFileStation::ReadFileRange, since 1.1): handed the file's
/// bytes in order, as they arrive, @p size of them at @p data (valid only during the call). It is
/// called on the thread that runs the read (the caller's, or the request's worker), with no lock
/// of the library held.
/// @return 1 to go on reading, 0 to stop the read here (it then ends with VESK_HTTP_SUCCESS)
typedef int (*VESK_HTTP_DATA_SINK)(void* userData, const char* data, long long size);
/// The reader of an upload from the caller's data (IVeskHttpFileStation::UploadFromReader and
/// IVeskHttpFileStation::ChunkedUploadFromReader, since 1.1): fills @p buffer with up to @p size
/// bytes of the file from byte @p offset on. The library asks for the bytes in order, but may ask
/// for a range again (a resend on a fresh connection). It is called on the thread that runs the
/// upload, with no lock of the library held.
/// @return the number of bytes written into @p buffer, fewer than @p size only at the end of the
///         file; -1 when the data cannot be read (the upload then fails with
///         VESK_HTTP_INVALID_REQUEST)
typedef long long (*VESK_HTTP_DATA_SOURCE)(void* userData, long long offset, char* buffer,
                                           long long size);

// ---------------------------------------------------------------------------------------
// Value records. Text setters and constructors copy the caller's text, which must not be
// null; getters never return null. Copies are independent of their source. The caller owns
// the records it makes and those it gets back; a record is used by one thread at a time.
// ---------------------------------------------------------------------------------------

/// Where and as whom to connect: the device's address, the user, the password, whether to use
/// HTTPS, and the name this computer gives the device. CVeskHttpServer takes a copy.
class VESK_HTTP_API CVeskHttpServerInfo {
 public:
  /// An empty record: no host, user, password or computer name; plain HTTP.
  CVeskHttpServerInfo();
  /// A record of the given values; the texts are copied.
  /// @param hostName the device's host name or address
  /// @param username the user to log in as
  /// @param password the user's password
  /// @param secureMode 1 to use HTTPS (on the SSL ports of CVeskHttpServer), 0 for HTTP
  /// @param computerName the name this computer gives the file service at login (see
  ///        \ref _VESK_HTTP_DEVICE_TYPE_); may be empty
  CVeskHttpServerInfo(const wchar_t* hostName, const wchar_t* username, const wchar_t* password,
                      int secureMode, const wchar_t* computerName);
  /// A copy, independent of @p other.
  CVeskHttpServerInfo(const CVeskHttpServerInfo& other);
  /// Makes this record a copy of @p other; returns it.
  CVeskHttpServerInfo& operator=(const CVeskHttpServerInfo& other);
  /// Destroys the record and its texts.
  ~CVeskHttpServerInfo();

  /// The device's host name or address.
  const wchar_t* GetHostName() const;
  /// The user to log in as.
  const wchar_t* GetUsername() const;
  /// The user's password.
  const wchar_t* GetPassword() const;
  /// 1 when the stations use HTTPS, 0 for plain HTTP.
  int IsSecureMode() const;
  /// The name this computer gives the file service at login; may be empty.
  const wchar_t* GetComputerName() const;

 private:
  std::wstring hostName_;
  std::wstring username_;
  std::wstring password_;
  int secureMode_;
  std::wstring computerName_;
};

/// One entry of a folder listing, a search result or the share roots: a file or a folder, named
/// by the folder that holds it and its own name. Operations that take an entry address the
/// item it names.
class VESK_HTTP_API CVeskHttpFileEntry {
 public:
  /// An empty entry: a file of size 0 without path or name.
  CVeskHttpFileEntry();
  /// A record of the given values; the texts are copied.
  /// @param isDir 1 for a folder, 0 for a file
  /// @param fileSize the size in bytes
  /// @param filePath the device folder that holds the entry
  /// @param fileName the entry's name
  CVeskHttpFileEntry(int isDir, long long fileSize, const wchar_t* filePath,
                     const wchar_t* fileName);
  /// A copy, independent of @p other.
  CVeskHttpFileEntry(const CVeskHttpFileEntry& other);
  /// Makes this record a copy of @p other; returns it.
  CVeskHttpFileEntry& operator=(const CVeskHttpFileEntry& other);
  /// Destroys the record and its texts.
  ~CVeskHttpFileEntry();

  /// 1 for a folder, 0 for a file.
  int IsDir() const;
  /// Sets whether the entry is a folder (1) or a file (0).
  void SetDir(int isDir);
  /// The size in bytes (0 for folders).
  long long GetFileSize() const;
  /// Sets the size in bytes.
  void SetFileSize(long long fileSize);
  /// The device folder that holds the entry (empty for a share root).
  const wchar_t* GetFilePath() const;
  /// Sets the device folder that holds the entry.
  void SetFilePath(const wchar_t* filePath);
  /// The entry's name.
  const wchar_t* GetFileName() const;
  /// Sets the entry's name.
  void SetFileName(const wchar_t* fileName);

 private:
  int isDir_;
  long long fileSize_;
  std::wstring filePath_;
  std::wstring fileName_;
};

/// The status of one file or folder, as IVeskHttpFileStation::GetFileStatus,
/// IVeskHttpFileStation::SetFileModifyTime and, for each entry,
/// IVeskHttpFileStation::GetFileStatusList and IVeskHttpFileStation::SearchFileStatus report it.
class VESK_HTTP_API CVeskHttpFileStatus {
 public:
  /// An empty status: a file of size 0 with empty texts.
  CVeskHttpFileStatus();
  /// A record of the given values; the texts are copied.
  /// @param isDir 1 for a folder, 0 for a file
  /// @param isCompressed 1 for a compressed file
  /// @param fileSize the size in bytes
  /// @param folderPermission "ReadWrite", "ReadOnly" or "AccessDenied"
  /// @param filePath the device folder that holds the item
  /// @param fileName the item's name
  /// @param group the owning group
  /// @param owner the owning user
  /// @param modifyTime the modification time, as the device writes it
  CVeskHttpFileStatus(int isDir, int isCompressed, long long fileSize,
                      const wchar_t* folderPermission, const wchar_t* filePath,
                      const wchar_t* fileName, const wchar_t* group, const wchar_t* owner,
                      const wchar_t* modifyTime);
  /// A copy, independent of @p other.
  CVeskHttpFileStatus(const CVeskHttpFileStatus& other);
  /// Makes this record a copy of @p other; returns it.
  CVeskHttpFileStatus& operator=(const CVeskHttpFileStatus& other);
  /// Destroys the record and its texts.
  ~CVeskHttpFileStatus();

  /// 1 for a folder, 0 for a file.
  int IsDir() const;
  /// Sets whether the item is a folder (1) or a file (0).
  void SetDir(int isDir);
  /// 1 when the device reports the file as compressed. (The name's spelling is part of the
  /// interface.)
  int IsCommpressed() const;
  /// Sets whether the file is compressed.
  void SetCompressed(int isCompressed);
  /// The size in bytes.
  long long GetFileSize() const;
  /// Sets the size in bytes.
  void SetFileSize(long long fileSize);
  /// The caller's access: "ReadWrite", "ReadOnly" or "AccessDenied".
  const wchar_t* GetFolderPermission() const;
  /// Sets the caller's access.
  void SetFolderPermission(const wchar_t* folderPermission);
  /// The device folder that holds the item.
  const wchar_t* GetFilePath() const;
  /// Sets the device folder that holds the item.
  void SetFilePath(const wchar_t* filePath);
  /// The item's name.
  const wchar_t* GetFileName() const;
  /// Sets the item's name.
  void SetFileName(const wchar_t* fileName);
  /// The owning group.
  const wchar_t* GetGroup() const;
  /// Sets the owning group.
  void SetGroup(const wchar_t* group);
  /// The owning user.
  const wchar_t* GetOwner() const;
  /// Sets the owning user.
  void SetOwner(const wchar_t* owner);
  /// The modification time, as the device writes it.
  const wchar_t* GetMT() const;
  /// Sets the modification time text.
  void SetMT(const wchar_t* modifyTime);
  /// The modification time in seconds since 1970-01-01 UTC, 64-bit, as the device reports it beside
  /// its text (since 1.1).
  /// @return the time; 0 when the device's reply carried none
  long long GetModifyTime64() const;
  /// Sets the 64-bit modification time (since 1.1); the text of GetMT() stays as it is.
  void SetModifyTime64(long long modifyTime);

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

/// One entry of an archive's content list (IVeskHttpFileStation::GetExtractList).
class VESK_HTTP_API CVeskHttpExtractEntry {
 public:
  /// An empty entry: a file of size 0 with empty texts.
  CVeskHttpExtractEntry();
  /// A record of the given values; the texts are copied.
  /// @param isDir 1 for a folder, 0 for a file
  /// @param fileSize the entry's size unpacked, in bytes
  /// @param compressFileSize its size packed, in bytes
  /// @param modifyTime its modification time, as the device writes it
  /// @param fileName its path inside the archive
  CVeskHttpExtractEntry(int isDir, long long fileSize, long long compressFileSize,
                        const wchar_t* modifyTime, const wchar_t* fileName);
  /// A copy, independent of @p other.
  CVeskHttpExtractEntry(const CVeskHttpExtractEntry& other);
  /// Makes this record a copy of @p other; returns it.
  CVeskHttpExtractEntry& operator=(const CVeskHttpExtractEntry& other);
  /// Destroys the record and its texts.
  ~CVeskHttpExtractEntry();

  /// 1 for a folder, 0 for a file.
  int IsDir() const;
  /// Sets whether the entry is a folder (1) or a file (0).
  void SetDir(int isDir);
  /// The entry's size unpacked, in bytes.
  long long GetFileSize() const;
  /// Sets the size unpacked.
  void SetFileSize(long long fileSize);
  /// The entry's size packed, in bytes.
  long long GetCompressFileSize() const;
  /// Sets the size packed.
  void SetCompressFileSize(long long compressFileSize);
  /// The modification time, as the device writes it.
  const wchar_t* GetModifyTime() const;
  /// Sets the modification time text.
  void SetModifyTime(const wchar_t* modifyTime);
  /// The entry's path inside the archive.
  const wchar_t* GetFileName() const;
  /// Sets the entry's path.
  void SetFileName(const wchar_t* fileName);

 private:
  int isDir_;
  long long fileSize_;
  long long compressFileSize_;
  std::wstring modifyTime_;
  std::wstring fileName_;
};

/// A share link as the device reports it: made by IVeskHttpFileStation::CreateShareLink, listed
/// by IVeskHttpFileStation::GetShareLinkList, removed by IVeskHttpFileStation::DeleteShareLink.
class VESK_HTTP_API CVeskHttpShareLink {
 public:
  /// An empty link.
  CVeskHttpShareLink();
  /// A copy, independent of @p other.
  CVeskHttpShareLink(const CVeskHttpShareLink& other);
  /// Makes this record a copy of @p other; returns it.
  CVeskHttpShareLink& operator=(const CVeskHttpShareLink& other);
  /// Destroys the record and its texts.
  ~CVeskHttpShareLink();

  /// The full device path of the shared file.
  const wchar_t* GetFileName() const;
  /// Sets the full device path of the shared file.
  void SetFileName(const wchar_t* fileName);
  /// When the link expires, as the device writes it ("0" or empty: never).
  const wchar_t* GetExpireTime() const;
  /// Sets the expiry text.
  void SetExpireTime(const wchar_t* expireTime);
  /// The link's URL.
  const wchar_t* GetURL() const;
  /// Sets the link's URL.
  void SetURL(const wchar_t* url);

 private:
  std::wstring fileName_;
  std::wstring expireTime_;
  std::wstring url_;
};

/// What the caller asks for when creating a share link (IVeskHttpFileStation::CreateShareLink).
class VESK_HTTP_API CVeskHttpShareLinkInfo {
 public:
  /// A record of the given values; the texts are copied.
  /// @param shareFilePath the full device path of the file to share
  /// @param password the access code the link asks for; empty for none
  /// @param dateTime the expiry in the device's local time, "YYYY-MM-DD hh:mm:ss" (the device also
  ///        takes "YYYY-MM-DD hh:mm" and "YYYY-MM-DD"); "0" for a link that never expires
  /// @param isSecureMode 1 for an https:// link, 0 for http://
  CVeskHttpShareLinkInfo(const wchar_t* shareFilePath, const wchar_t* password,
                         const wchar_t* dateTime, int isSecureMode);
  /// A copy, independent of @p other.
  CVeskHttpShareLinkInfo(const CVeskHttpShareLinkInfo& other);
  /// Makes this record a copy of @p other; returns it.
  CVeskHttpShareLinkInfo& operator=(const CVeskHttpShareLinkInfo& other);
  /// Destroys the record and its texts.
  ~CVeskHttpShareLinkInfo();

  /// The full device path of the file to share.
  const wchar_t* GetShareFilePath() const;
  /// Sets the full device path of the file to share.
  void SetShareFilePath(const wchar_t* shareFilePath);
  /// The access code the link asks for; empty for none.
  const wchar_t* GetPassword() const;
  /// Sets the access code; empty for none.
  void SetPassword(const wchar_t* password);
  /// The expiry in the device's local time; "0" for never.
  const wchar_t* GetDateTime() const;
  /// Sets the expiry; "0" for never.
  void SetDateTime(const wchar_t* dateTime);
  /// 1 for an https:// link, 0 for http://.
  int IsSecureMode() const;
  /// Sets whether the link is an https:// link (1) or http:// (0).
  void SetIsSecureMode(int isSecureMode);

 private:
  std::wstring shareFilePath_;
  std::wstring password_;
  std::wstring dateTime_;
  int isSecureMode_;
};

/// The device's names and addresses (IVeskHttpFileStation::GetDomainIPList).
class VESK_HTTP_API CVeskHttpNASInfo {
 public:
  /// An empty record.
  CVeskHttpNASInfo();
  /// A record of the given values; the texts are copied.
  /// @param farlinkNasName the device's cloud-service name
  /// @param nasExternalIP its external address
  /// @param nasLocalIP its local network address
  /// @param nasHostIP its host address
  CVeskHttpNASInfo(const wchar_t* farlinkNasName, const wchar_t* nasExternalIP,
                   const wchar_t* nasLocalIP, const wchar_t* nasHostIP);
  /// A copy, independent of @p other.
  CVeskHttpNASInfo(const CVeskHttpNASInfo& other);
  /// Makes this record a copy of @p other; returns it.
  CVeskHttpNASInfo& operator=(const CVeskHttpNASInfo& other);
  /// Destroys the record and its texts.
  ~CVeskHttpNASInfo();

  /// The device's cloud-service name.
  const wchar_t* GetFarlinkNasName() const;
  /// Sets the cloud-service name.
  void SetFarlinkNasName(const wchar_t* farlinkNasName);
  /// The device's external address.
  const wchar_t* GetNasExternalIP() const;
  /// Sets the external address.
  void SetNasExternalIP(const wchar_t* nasExternalIP);
  /// The device's local network address.
  const wchar_t* GetNasLocalIP() const;
  /// Sets the local network address.
  void SetNasLocalIP(const wchar_t* nasLocalIP);
  /// The device's host address.
  const wchar_t* GetNasHostIP() const;
  /// Sets the host address.
  void SetNasHostIP(const wchar_t* nasHostIP);

 private:
  std::wstring farlinkNasName_;
  std::wstring nasExternalIP_;
  std::wstring nasLocalIP_;
  std::wstring nasHostIP_;
};

/// The device's web-server settings (IVeskHttpSystem::GetSystemSetting).
class VESK_HTTP_API CVeskHttpSystemSettingInfo {
 public:
  /// An empty record: no name, every number 0.
  CVeskHttpSystemSettingInfo();
  /// A record of the given values; the texts are copied.
  /// @param serverName the device's server name
  /// @param sysPort the plain HTTP port of its web interface
  /// @param isSSL 1 when HTTPS is on
  /// @param sysSSLPort the HTTPS port
  /// @param isSSLForce 1 when plain HTTP is refused
  CVeskHttpSystemSettingInfo(const wchar_t* serverName, int sysPort, int isSSL, int sysSSLPort,
                             int isSSLForce);
  /// A copy, independent of @p other.
  CVeskHttpSystemSettingInfo(const CVeskHttpSystemSettingInfo& other);
  /// Makes this record a copy of @p other; returns it.
  CVeskHttpSystemSettingInfo& operator=(const CVeskHttpSystemSettingInfo& other);
  /// Destroys the record and its texts.
  ~CVeskHttpSystemSettingInfo();

  /// The device's server name.
  const wchar_t* GetServerName() const;
  /// Sets the server name.
  void SetServerName(const wchar_t* serverName);
  /// The plain HTTP port of the device's web interface.
  int GetSYSPort() const;
  /// Sets the plain HTTP port.
  void SetSYSPort(int sysPort);
  /// 1 when HTTPS is on.
  int IsSSL() const;
  /// Sets whether HTTPS is on.
  void SetSSL(int isSSL);
  /// The HTTPS port.
  int GetSYSSSLPort() const;
  /// Sets the HTTPS port.
  void SetSYSSSLPort(int sysSSLPort);
  /// 1 when the device refuses plain HTTP.
  int IsSSLForce() const;
  /// Sets whether plain HTTP is refused.
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

/// The handle of an asynchronous file-service request, as the operations named ...Async
/// return it.
///
/// The station owns the request; the caller holds the handle until it gives it back with
/// IVeskHttpFileStation::CloseRequest, which it must do for every handle, before closing
/// the station. The outputs are read once the completion notification has come; they
/// belong to the request and live until it is released. Each getter serves the operations
/// named with it and is empty for the others; after a result other than VESK_HTTP_SUCCESS
/// the outputs may be empty or partial.
class VESK_HTTP_API IVeskHttpFileStationRequestBase {
 public:
  /// Stops the request. A request that has not begun never runs; a running one stops its exchange
  /// within moments and ends with VESK_HTTP_CANCELLED. A compress or extract job is also stopped on
  /// the device; a copy or move job runs on there, only no longer followed. Cancel waits until the
  /// request has ended, so its completion notification has been sent when Cancel returns; called
  /// from the request's own notification, it only asks the request to stop. It may be called from
  /// any thread, and more than once.
  /// @return 1
  virtual int Cancel() = 0;
  /// The count of GetFileListCountAsync, the folder's total number of entries of GetFileListAsync,
  /// SearchFileAsync, GetFileStatusListAsync and SearchFileStatusAsync (not only those of this
  /// page), and the total number of links of GetShareLinkListAsync.
  /// @return the count, 0 when the operation has none
  virtual int GetTotalCount() const = 0;
  /// The entries of GetShareFolderListAsync, GetFileListAsync and SearchFileAsync.
  /// @return the request's list, owned by the request; never null
  virtual std::vector<CVeskHttpFileEntry>* GetFileEntryList() = 0;
  /// The entries of GetExtractListAsync.
  /// @return the request's list, owned by the request; never null
  virtual std::vector<CVeskHttpExtractEntry>* GetExtractEntryList() = 0;
  /// The link CreateShareLinkAsync made.
  /// @return a copy of the link; an empty link for other operations
  virtual CVeskHttpShareLink GetShareLinkResult() const = 0;
  /// The links of GetShareLinkListAsync.
  /// @return the request's list, owned by the request; never null
  virtual std::vector<CVeskHttpShareLink>* GetShareLinkList() = 0;
  /// The status GetFileStatusAsync read, or the status after the change of SetFileModifyTimeAsync
  /// and SetFileModifyTime64Async.
  /// @return a copy of the status; an empty one for other operations
  virtual CVeskHttpFileStatus GetFileStatusResult() const = 0;
  /// The names and addresses of GetDomainIPListAsync.
  /// @return a copy of the record; an empty one for other operations
  virtual CVeskHttpNASInfo GetNASInfoResult() const = 0;
  /// The upload id of StartChunkedUploadAsync.
  /// @return the id, owned by the request; empty for other operations, never null
  virtual const wchar_t* GetResultString() const = 0;

 protected:
  /// Released through IVeskHttpFileStation::CloseRequest, never deleted by the caller.
  virtual ~IVeskHttpFileStationRequestBase() = default;
  /// Runs the request's command; called by the library alone.
  virtual void Execute() = 0;

 public:
  // Added in 1.1, after every slot of 1.0, so that the virtual table of 1.0 stays as it was.
  /// The records of GetFileStatusListAsync and SearchFileStatusAsync (since 1.1).
  /// @return the request's list, owned by the request; never null
  virtual std::vector<CVeskHttpFileStatus>* GetFileStatusList() = 0;
  /// The bytes ReadFileRangeAsync handed its sink, whatever the result (since 1.1).
  /// @return the count; 0 for other operations
  virtual long long GetBytesRead() const = 0;
};

/// The handle of an asynchronous system-service request. The rules of
/// IVeskHttpFileStationRequestBase apply; it is given back with IVeskHttpSystem::CloseRequest.
class VESK_HTTP_API IVeskHttpSystemRequestBase {
 public:
  /// Stops the request, as IVeskHttpFileStationRequestBase::Cancel does.
  /// @return 1
  virtual int Cancel() = 0;
  /// The settings IVeskHttpSystem::GetSystemSettingAsync read.
  /// @return a copy of the settings; an empty record for other operations
  virtual CVeskHttpSystemSettingInfo GetSystemSettingResult() const = 0;

 protected:
  /// Released through IVeskHttpSystem::CloseRequest, never deleted by the caller.
  virtual ~IVeskHttpSystemRequestBase() = default;
  /// Runs the request's command; called by the library alone.
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

/// The result of every synchronous operation: a \ref _VESK_HTTP_API_RESULT_.
typedef _VESK_HTTP_API_RESULT_ VESK_HTTP_RESULT;
/// The handle an asynchronous file-service operation returns.
typedef IVeskHttpFileStationRequestBase* VESK_HTTP_REQUEST;

/// The device's file service: its file tree, transfers, share links, archives and more.
///
/// CVeskHttpServer::Login(VESK_HTTP_STATION_FILE_STATION) creates and logs in the station,
/// CVeskHttpServer::OpenFileStation hands it out (the server keeps it) and
/// CVeskHttpServer::CloseFileStation logs it out and destroys it. Device paths are written
/// from a share root, with "/" (or "\") between names: L"/Public/photos/a.jpg". Operations
/// that take one path split it at its last separator into a folder and a name.
///
/// <b>Synchronous operations</b> run on the calling thread and return a result code. They
/// take the caller's cancel flag after their own arguments and, where they report progress,
/// user data and a progress callback (VESK_HTTP_PROGRESS_CALLBACK). They append to the
/// caller's output lists without clearing them, and write outputs only on
/// VESK_HTTP_SUCCESS; the outputs belong to the caller.
///
/// <b>Asynchronous operations</b> (named ...Async) run on a worker thread of the library. They
/// take user data and a notification callback (VESK_HTTP_NOTIFY_CALLBACK) last and return
/// the request's handle, or null when the station is not logged in or the request cannot
/// start; the completion notification carries the result the synchronous form would
/// return, and the outputs are read from the handle (IVeskHttpFileStationRequestBase).
/// Every handle is given back with CloseRequest before the station is closed.
///
/// <b>Cancelling.</b> A synchronous operation watches the caller's cancel flag, an int that
/// the caller sets to 1 from another thread (with an atomic store, e.g.
/// `std::atomic_ref<int>(flag).store(1)`); the operation then stops its exchange within
/// moments and returns VESK_HTTP_CANCELLED, which overrides every other result. A flag that
/// reads 1 before the operation begins cancels it at once. An asynchronous request is
/// cancelled with IVeskHttpFileStationRequestBase::Cancel, or by releasing it.
///
/// <b>Threads.</b> Operations of one station may be called from several threads at once;
/// the station keeps no lock while a request runs, and no callback is called with a lock
/// of the library held. Every operation also answers VESK_HTTP_NOT_LOGGED_IN on a station
/// that is not logged in, and the codes any exchange may end with (see
/// \ref _VESK_HTTP_API_RESULT_).
class VESK_HTTP_API IVeskHttpFileStation {
 public:
  // Share roots, folder counts and folder pages.
  /// Lists the share roots: the folders at the top of the device's tree. Appends one entry per root
  /// to @p list, a folder with an empty path.
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param list receives the roots (appended; may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 when the device refuses (status 4); and
  ///         the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetShareFolderList(int* cancelFlag,
                                              std::vector<CVeskHttpFileEntry>* list) = 0;
  /// Counts the entries of a device folder.
  /// @param folderPath the folder, e.g. L"/Public"
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param count receives the number of entries (may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a folder that is missing or not
  ///         permitted; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetFileListCount(const wchar_t* folderPath, int* cancelFlag,
                                            int* count) = 0;
  /// Lists one page of a device folder, sorted by name: at most @p limit entries from the
  /// @p startIndex-th on. Appends them to @p list, each with @p folderPath as its path. Use
  /// GetFileListCount to know how many pages to ask for.
  /// @param folderPath the folder, e.g. L"/Public"
  /// @param startIndex the first entry of the page, from 0
  /// @param limit the most entries to list
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param list receives the entries (appended; may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a folder that is missing or not
  ///         permitted; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetFileList(const wchar_t* folderPath, int startIndex, int limit,
                                       int* cancelFlag, std::vector<CVeskHttpFileEntry>* list) = 0;
  // Links to the device's viewer and thumbnails; no request is made.
  /// Builds the link that opens a device file in the device's viewer, with this session's sid: it
  /// works while the station stays logged in. No request is made.
  /// @param filePath the file's device path
  /// @param url receives the link
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_NOT_LOGGED_IN; VESK_HTTP_INVALID_REQUEST when @p url is
  ///         null
  virtual VESK_HTTP_RESULT GetViewerURL(const wchar_t* filePath, std::wstring* url) = 0;
  /// Builds the link to a thumbnail (a PNG of at most 80 by 80 pixels) of a device image file, with
  /// this session's sid: it works while the station stays logged in. No request is made.
  /// @param filePath the image's device path
  /// @param url receives the link
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_NOT_LOGGED_IN; VESK_HTTP_INVALID_REQUEST when @p url is
  ///         null
  virtual VESK_HTTP_RESULT GetThumbnailURL(const wchar_t* filePath, std::wstring* url) = 0;
  // Whole-file and chunked uploads.
  /// Uploads a local file into a device folder in one exchange, in pieces of at most 65535 bytes,
  /// under the local file's name; a file of that name there is replaced. A cut upload leaves
  /// nothing on the device: for large files over unreliable links use a chunked upload
  /// (StartChunkedUpload).
  /// @param localPath the local file
  /// @param deviceFolder the device folder to put it in
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the file's bytes sent so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST when the local file cannot be opened or
  ///         read; VESK_HTTP_SERVER_FAILED when the device refuses the file (a missing folder, a
  ///         name it does not take); VESK_HTTP_SEND_FAILED when the connection breaks; and the
  ///         codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT UploadFile(const wchar_t* localPath, const wchar_t* deviceFolder,
                                      int* cancelFlag, void* userData,
                                      VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Starts a chunked upload: the device makes room for an unfinished upload in @p tempFolder and
  /// names it by an id. Send the file with ChunkedUploadFile; drop it with DeleteChunkedUploadFile.
  /// @param tempFolder the device folder that holds the unfinished upload (its upload root)
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param uploadId receives the upload's id (may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a missing folder;
  ///         VESK_HTTP_DEVICE_STATUS_9 when the folder holds too many unfinished uploads;
  ///         VESK_HTTP_SERVER_FAILED for another refusal or a reply without an id; and the codes
  ///         any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT StartChunkedUpload(const wchar_t* tempFolder, int* cancelFlag,
                                              std::wstring* uploadId) = 0;
  /// Sends a local file to a chunked upload, or what the device does not hold of it yet: it asks
  /// the device how many bytes it holds and sends the rest in one exchange. Once the device holds
  /// the whole file it moves it into @p deviceFolder, stamped with the local file's last-write
  /// time, replacing a file of that name. After a failure call it again, with the same arguments,
  /// until it returns VESK_HTTP_SUCCESS (or give up with DeleteChunkedUploadFile): nothing is sent
  /// twice.
  /// @param localPath the local file
  /// @param deviceFolder the device folder the file goes into
  /// @param newName the file's name there; empty for the local file's name
  /// @param uploadId the id StartChunkedUpload gave
  /// @param tempFolder the folder given to StartChunkedUpload
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the file's bytes the device holds (counted from the file's start)
  ///        so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_CHUNK_STATUS_5 when the device does not know the upload;
  ///         VESK_HTTP_INVALID_REQUEST when the local file cannot be opened or read, or is shorter
  ///         than what the device holds; VESK_HTTP_SERVER_FAILED when the device refuses the data;
  ///         VESK_HTTP_SEND_FAILED when the connection breaks (what arrived stays on the device);
  ///         and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT ChunkedUploadFile(const wchar_t* localPath, const wchar_t* deviceFolder,
                                             const wchar_t* newName, const wchar_t* uploadId,
                                             const wchar_t* tempFolder, int* cancelFlag,
                                             void* userData,
                                             VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Drops an unfinished chunked upload and what the device holds of it.
  /// @param uploadId the id StartChunkedUpload gave
  /// @param tempFolder the folder given to StartChunkedUpload
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_5 for an id the device does not know;
  ///         VESK_HTTP_SERVER_FAILED for another refusal; and the codes any exchange may end with
  ///         (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT DeleteChunkedUploadFile(const wchar_t* uploadId,
                                                   const wchar_t* tempFolder, int* cancelFlag) = 0;
  // Downloads, resumable at an offset of the local file.
  /// Downloads a device file into a local file, from byte @p offset of the file to its end, written
  /// at the same offset of the local file (which is created when missing; what it holds before the
  /// offset stays). Only the device's 200 reply is ever written into the local file, and a
  /// completed download ends the local file there. A failed or cancelled download keeps what
  /// arrived: call it again with the local file's size as the offset to resume. This form takes the
  /// file as a listing entry.
  /// @param entry the file: its path and name
  /// @param localPath the local file
  /// @param offset where to start, 0 for the whole file (64-bit)
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the file's bytes received (counted from the file's start) so far,
  ///        or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST when the path names no folder or no file,
  ///         the offset is negative, or the local file cannot be opened or written;
  ///         VESK_HTTP_BAD_HTTP_STATUS when the device refuses (no such file, an offset beyond its
  ///         end); VESK_HTTP_SEND_FAILED when the connection breaks, also after the reply began;
  ///         and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT DownloadFile(CVeskHttpFileEntry entry, const wchar_t* localPath,
                                        long long offset, int* cancelFlag, void* userData,
                                        VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Downloads a device file into a local file, from byte @p offset of the file to its end, written
  /// at the same offset of the local file (which is created when missing; what it holds before the
  /// offset stays). Only the device's 200 reply is ever written into the local file, and a
  /// completed download ends the local file there. A failed or cancelled download keeps what
  /// arrived: call it again with the local file's size as the offset to resume.
  /// @param devicePath the file's device path, e.g. L"/Public/a.iso"
  /// @param localPath the local file
  /// @param offset where to start, 0 for the whole file (64-bit)
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the file's bytes received (counted from the file's start) so far,
  ///        or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST when the path names no folder or no file,
  ///         the offset is negative, or the local file cannot be opened or written;
  ///         VESK_HTTP_BAD_HTTP_STATUS when the device refuses (no such file, an offset beyond its
  ///         end); VESK_HTTP_SEND_FAILED when the connection breaks, also after the reply began;
  ///         and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT DownloadFile(const wchar_t* devicePath, const wchar_t* localPath,
                                        long long offset, int* cancelFlag, void* userData,
                                        VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  // Share links.
  /// Creates a share link for a device file in two exchanges: the device allocates the link, then
  /// the library confirms it with the same settings. A creation cancelled between the two leaves
  /// the link unconfirmed.
  /// @param info the file, the access code, the expiry and the scheme
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param link receives the link: its URL, its expiry and the file's path (may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_SERVER_FAILED when the device refuses either step (no
  ///         such file, an expiry in the past, HTTPS links while HTTPS is off, too many links); and
  ///         the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT CreateShareLink(CVeskHttpShareLinkInfo info, int* cancelFlag,
                                           CVeskHttpShareLink* link) = 0;
  /// Lists the device's share links, sorted by file name, expired ones included until they are
  /// deleted: at most @p limit of them, appended to @p list.
  /// @param limit the most links to list
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param list receives the links (appended; may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_SERVER_FAILED for a reply that does not parse; and the
  ///         codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetShareLinkList(int limit, int* cancelFlag,
                                            std::vector<CVeskHttpShareLink>* list) = 0;
  /// Deletes a share link, named by its URL and its file's path as CreateShareLink or
  /// GetShareLinkList gave them.
  /// @param link the link
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_SERVER_FAILED when the device has no such link for that
  ///         file; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT DeleteShareLink(CVeskHttpShareLink link, int* cancelFlag) = 0;
  // Changes to the file tree.
  /// Creates a folder.
  /// @param parentPath the device folder to create it in
  /// @param name the new folder's name
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_2 when an item of that name exists;
  ///         VESK_HTTP_DEVICE_STATUS_4 when the parent is missing or not permitted;
  ///         VESK_HTTP_SERVER_FAILED for another refusal (a name the device does not take); and the
  ///         codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT CreateFolder(const wchar_t* parentPath, const wchar_t* name,
                                        int* cancelFlag) = 0;
  /// Creates a folder inside the folder a listing entry names.
  /// @param parent the folder to create it in: its path and name
  /// @param name the new folder's name
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_2 when an item of that name exists;
  ///         VESK_HTTP_DEVICE_STATUS_4 when the parent is missing or not permitted;
  ///         VESK_HTTP_SERVER_FAILED for another refusal (a name the device does not take); and the
  ///         codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT CreateFolder(CVeskHttpFileEntry parent, const wchar_t* name,
                                        int* cancelFlag) = 0;
  /// Copies a device file or folder (with all it holds) into a folder, as a device job. With a
  /// progress callback the operation follows the device's job to its end and reports its
  /// percentage; without one it returns as soon as the device has started the job. Following gives
  /// up after five status queries in a row that fail. A cancel stops following the job; the device
  /// has no way to stop a copy, which runs on.
  /// @param sourcePath the item's device path
  /// @param destFolder the device folder to put it in
  /// @param mode for an item of the same name in @p destFolder: 0 refuse, 1 replace files and merge
  ///        folders
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the job's percentage so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_2 when the device refuses because the
  ///         target exists; VESK_HTTP_DEVICE_STATUS_4 for a missing or not permitted item;
  ///         VESK_HTTP_SERVER_FAILED for another refusal or a job that fails; and the codes any
  ///         exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT CopyFile(const wchar_t* sourcePath, const wchar_t* destFolder, int mode,
                                    int* cancelFlag, void* userData,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Copies the item a listing entry names into a folder, as a device job. With a progress callback
  /// the operation follows the device's job to its end and reports its percentage; without one it
  /// returns as soon as the device has started the job. Following gives up after five status
  /// queries in a row that fail. A cancel stops following the job; the device has no way to stop a
  /// copy, which runs on.
  /// @param source the item: its path and name
  /// @param destFolder the device folder to put it in
  /// @param mode for an item of the same name in @p destFolder: 0 refuse, 1 replace files and merge
  ///        folders
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the job's percentage so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_2 when the device refuses because the
  ///         target exists; VESK_HTTP_DEVICE_STATUS_4 for a missing or not permitted item;
  ///         VESK_HTTP_SERVER_FAILED for another refusal or a job that fails; and the codes any
  ///         exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT CopyFile(CVeskHttpFileEntry source, const wchar_t* destFolder, int mode,
                                    int* cancelFlag, void* userData,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Moves a device file or folder (with all it holds) into a folder, as a device job. With a
  /// progress callback the operation follows the device's job to its end and reports its
  /// percentage; without one it returns as soon as the device has started the job. Following gives
  /// up after five status queries in a row that fail. A cancel stops following the job; the device
  /// has no way to stop a move, which runs on.
  /// @param sourcePath the item's device path
  /// @param destFolder the device folder to put it in
  /// @param mode for an item of the same name in @p destFolder: 0 refuse, 1 replace files and merge
  ///        folders
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the job's percentage so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_SERVER_FAILED when the device refuses the move or the job
  ///         fails; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT MoveFile(const wchar_t* sourcePath, const wchar_t* destFolder, int mode,
                                    int* cancelFlag, void* userData,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Moves the item a listing entry names into a folder, as a device job. With a progress callback
  /// the operation follows the device's job to its end and reports its percentage; without one it
  /// returns as soon as the device has started the job. Following gives up after five status
  /// queries in a row that fail. A cancel stops following the job; the device has no way to stop a
  /// move, which runs on.
  /// @param source the item: its path and name
  /// @param destFolder the device folder to put it in
  /// @param mode for an item of the same name in @p destFolder: 0 refuse, 1 replace files and merge
  ///        folders
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the job's percentage so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_SERVER_FAILED when the device refuses the move or the job
  ///         fails; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT MoveFile(CVeskHttpFileEntry source, const wchar_t* destFolder, int mode,
                                    int* cancelFlag, void* userData,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Deletes a device file or folder, with all it holds.
  /// @param path the item's device path
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS (also for an item that is already gone); VESK_HTTP_DEVICE_STATUS_4
  ///         when it is not permitted; VESK_HTTP_SERVER_FAILED for another refusal; and the codes
  ///         any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT DeleteFile(const wchar_t* path, int* cancelFlag) = 0;
  /// Deletes the item a listing entry names, with all it holds.
  /// @param item the item: its path and name
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS (also for an item that is already gone); VESK_HTTP_DEVICE_STATUS_4
  ///         when it is not permitted; VESK_HTTP_SERVER_FAILED for another refusal; and the codes
  ///         any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT DeleteFile(CVeskHttpFileEntry item, int* cancelFlag) = 0;
  /// Renames a device file or folder in its folder.
  /// @param path the item's device path
  /// @param newName its new name
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_2 when an item of the new name exists;
  ///         VESK_HTTP_DEVICE_STATUS_4 for a missing or not permitted item; VESK_HTTP_SERVER_FAILED
  ///         for another refusal; and the codes any exchange may end with
  ///         (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT RenameFile(const wchar_t* path, const wchar_t* newName,
                                      int* cancelFlag) = 0;
  /// Sets the modification time of a device file or folder and reads its status back. Since 1.1
  /// it forwards to SetFileModifyTime64(), so a time of 0 or below, which the device does not
  /// take, is refused before anything is sent.
  /// @param path the item's device path
  /// @param modifyTime the time, in seconds since 1970-01-01 UTC, from 1 on
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param status receives the item's status after the change (may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST for a time of 0 or below;
  ///         VESK_HTTP_DEVICE_STATUS_4 for a missing or not permitted item; and the codes any
  ///         exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT SetFileModifyTime(const wchar_t* path, int modifyTime, int* cancelFlag,
                                             CVeskHttpFileStatus* status) = 0;
  // Search and status.
  /// Finds the items whose names contain a keyword, at any depth below a device folder: at most
  /// @p limit of them, appended to @p list. The device's reply names no folder for them: each
  /// entry's path is @p folderPath.
  /// @param folderPath the folder to search
  /// @param keyword the text names must contain
  /// @param limit the most items to return
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param list receives the items (appended; may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a folder that is missing or not
  ///         permitted; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT SearchFile(const wchar_t* folderPath, const wchar_t* keyword, int limit,
                                      int* cancelFlag, std::vector<CVeskHttpFileEntry>* list) = 0;
  /// Reads the status of a device file or folder.
  /// @param path the item's device path
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param status receives the status (may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a missing or not permitted item; and
  ///         the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetFileStatus(const wchar_t* path, int* cancelFlag,
                                         CVeskHttpFileStatus* status) = 0;
  // Archives.
  /// Packs items of a device folder into an archive in that folder, as a device job. With a
  /// progress callback the operation follows the device's job to its end (the percentage reads 0
  /// while it runs, then 100) and a cancel stops the job on the device too; without one it returns
  /// as soon as the device has started the job. A start answer that names no job counts as success,
  /// with nothing to follow.
  /// @param archiveName the archive's name (the device adds ".zip" or ".7z" when it lacks it)
  /// @param folderPath the device folder that holds the items and gets the archive
  /// @param fileCount the number of items
  /// @param names the items' names in @p folderPath; none may be null
  /// @param format 0 zip, 1 7z
  /// @param password the archive's password (zip only); empty for none
  /// @param level 0 normal, 1 large, 2 fast
  /// @param encryption with a password: 0 AES-256, 1 ZipCrypto
  /// @param updateMode for an existing archive: 0 replace it, 1 refuse, 2 add the items, 3 add them
  ///        but replace only older entries
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the job's percentage so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST for a null name;
  ///         VESK_HTTP_DEVICE_STATUS_2 when the archive exists and is not to be replaced;
  ///         VESK_HTTP_DEVICE_STATUS_4 for a missing folder or item; VESK_HTTP_SERVER_FAILED for a
  ///         job that fails; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT CompressFile(const wchar_t* archiveName, const wchar_t* folderPath,
                                        int fileCount, const std::vector<const wchar_t*>& names,
                                        int format, const wchar_t* password, int level,
                                        int encryption, int updateMode, int* cancelFlag,
                                        void* userData, VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Lists one page of an archive's entries, sorted by path: at most @p limit entries from the
  /// @p startIndex-th on, appended to @p list.
  /// @param archivePath the archive's device path
  /// @param startIndex the first entry of the page, from 0
  /// @param limit the most entries to list
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param list receives the entries (appended; may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a missing archive;
  ///         VESK_HTTP_DEVICE_STATUS_5 for a file the device cannot read as an archive (or a wrong
  ///         password); VESK_HTTP_SERVER_FAILED for another refusal; and the codes any exchange may
  ///         end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetExtractList(const wchar_t* archivePath, int startIndex, int limit,
                                          int* cancelFlag,
                                          std::vector<CVeskHttpExtractEntry>* list) = 0;
  /// Unpacks an archive, or some of its entries, into a device folder, as a device job. With a
  /// progress callback the operation follows the device's job to its end (the percentage reads 0
  /// while it runs, then 100) and a cancel stops the job on the device too; without one it returns
  /// as soon as the device has started the job. A start answer that names no job counts as success,
  /// with nothing to follow.
  /// @param archivePath the archive's device path
  /// @param destFolder the device folder to unpack into
  /// @param password the archive's password; empty for none
  /// @param mode 0 every entry, 1 the entries @p names names (a folder with all it holds)
  /// @param fileCount with mode 1: the number of names
  /// @param names with mode 1: entry paths inside the archive; none may be null
  /// @param overwrite 0 refuses to replace a file, non-zero replaces files and merges folders
  /// @param pathMode 0 puts every file straight into @p destFolder, 1 keeps the archive's folders
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p progress
  /// @param progress called with the job's percentage so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST for a null name with mode 1;
  ///         VESK_HTTP_DEVICE_STATUS_2 when a file would be replaced without @p overwrite;
  ///         VESK_HTTP_DEVICE_STATUS_4 for a missing archive or folder; VESK_HTTP_SERVER_FAILED for
  ///         a job that fails; and the codes any exchange may end with
  ///         (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT ExtractFile(const wchar_t* archivePath, const wchar_t* destFolder,
                                       const wchar_t* password, int mode, int fileCount,
                                       const std::vector<const wchar_t*>& names, int overwrite,
                                       int pathMode, int* cancelFlag, void* userData,
                                       VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  // Addresses and video transcoding.
  /// Reads the device's cloud-service name and its external, local and host addresses.
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param info receives them (may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_SERVER_FAILED for a reply that does not parse; and the
  ///         codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetDomainIPList(int* cancelFlag, CVeskHttpNASInfo* info) = 0;
  /// Queues a device video file for transcoding on the device.
  /// @param path the file's device path
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_2 when it is queued already;
  ///         VESK_HTTP_DEVICE_STATUS_4 for a missing file or a folder; and the codes any exchange
  ///         may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT AddVideoTranscode(const wchar_t* path, int* cancelFlag) = 0;
  /// Takes a device video file off the transcoding queue.
  /// @param path the file's device path
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a file that is missing or not queued;
  ///         and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT DeleteVideoTranscode(const wchar_t* path, int* cancelFlag) = 0;

  /// Releases an asynchronous request of this station and nulls the caller's pointer. A running
  /// request is cancelled and waited for: its completion notification comes first. A request of
  /// another station, a null pointer, and a call from the request's own notification leave the
  /// request (and the pointer) alone.
  /// @param request the caller's handle
  /// @return 1
  virtual int CloseRequest(IVeskHttpFileStationRequestBase** request) = 0;

  /// Starts GetShareFolderList() on a worker thread; its completion notification carries
  /// the result GetShareFolderList() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetFileEntryList().
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST GetShareFolderListAsync(void* userData,
                                                    VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts GetFileListCount() on a worker thread; its completion notification carries
  /// the result GetFileListCount() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetTotalCount().
  /// @param folderPath the folder
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST GetFileListCountAsync(const wchar_t* folderPath, void* userData,
                                                  VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts GetFileList() on a worker thread; its completion notification carries the
  /// result GetFileList() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetFileEntryList() and
  /// IVeskHttpFileStationRequestBase::GetTotalCount() (the folder's whole count).
  /// @param folderPath the folder
  /// @param startIndex the first entry of the page, from 0
  /// @param limit the most entries to list
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST GetFileListAsync(const wchar_t* folderPath, int startIndex, int limit,
                                             void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts CreateShareLink() on a worker thread; its completion notification carries
  /// the result CreateShareLink() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetShareLinkResult().
  /// @param info the file, the access code, the expiry and the scheme
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST CreateShareLinkAsync(CVeskHttpShareLinkInfo info, void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts GetShareLinkList() on a worker thread; its completion notification carries
  /// the result GetShareLinkList() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetShareLinkList() and
  /// IVeskHttpFileStationRequestBase::GetTotalCount().
  /// @param limit the most links to list
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST GetShareLinkListAsync(int limit, void* userData,
                                                  VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts DeleteShareLink() on a worker thread; its completion notification carries
  /// the result DeleteShareLink() would return.
  /// @param link the link
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST DeleteShareLinkAsync(CVeskHttpShareLink link, void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts UploadFile() on a worker thread; its completion notification carries the
  /// result UploadFile() would return.
  /// @param localPath the local file
  /// @param deviceFolder the device folder to put it in
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the bytes sent after every
  ///        piece; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST UploadFileAsync(const wchar_t* localPath, const wchar_t* deviceFolder,
                                            void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts StartChunkedUpload() on a worker thread; its completion notification carries
  /// the result StartChunkedUpload() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetResultString(), the id.
  /// @param tempFolder the device folder that holds the unfinished upload
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST StartChunkedUploadAsync(const wchar_t* tempFolder, void* userData,
                                                    VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts ChunkedUploadFile() on a worker thread; its completion notification carries
  /// the result ChunkedUploadFile() would return.
  /// @param localPath the local file
  /// @param deviceFolder the device folder the file goes into
  /// @param newName the file's name there; empty for the local file's name
  /// @param uploadId the id StartChunkedUpload gave
  /// @param tempFolder the folder given to StartChunkedUpload
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the bytes the device holds
  ///        after every piece; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST ChunkedUploadFileAsync(const wchar_t* localPath,
                                                   const wchar_t* deviceFolder,
                                                   const wchar_t* newName, const wchar_t* uploadId,
                                                   const wchar_t* tempFolder, void* userData,
                                                   VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts DeleteChunkedUploadFile() on a worker thread; its completion notification
  /// carries the result DeleteChunkedUploadFile() would return.
  /// @param uploadId the id StartChunkedUpload gave
  /// @param tempFolder the folder given to StartChunkedUpload
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST DeleteChunkedUploadFileAsync(const wchar_t* uploadId,
                                                         const wchar_t* tempFolder, void* userData,
                                                         VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts DownloadFile() on a worker thread; its completion notification carries the
  /// result DownloadFile() would return.
  /// @param devicePath the file's device path
  /// @param localPath the local file
  /// @param offset where to start, 0 for the whole file
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the bytes received after
  ///        every piece; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in, the path names no folder or file, the offset is negative, or the worker
  ///         thread did not start
  virtual VESK_HTTP_REQUEST DownloadFileAsync(const wchar_t* devicePath, const wchar_t* localPath,
                                              long long offset, void* userData,
                                              VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts DownloadFile() on a worker thread; its completion notification carries the
  /// result DownloadFile() would return.
  /// @param entry the file: its path and name
  /// @param localPath the local file
  /// @param offset where to start, 0 for the whole file
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the bytes received after
  ///        every piece; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in, the entry names no folder or file, the offset is negative, or the worker
  ///         thread did not start
  virtual VESK_HTTP_REQUEST DownloadFileAsync(CVeskHttpFileEntry entry, const wchar_t* localPath,
                                              long long offset, void* userData,
                                              VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts CreateFolder() on a worker thread; its completion notification carries the
  /// result CreateFolder() would return.
  /// @param parentPath the device folder to create it in
  /// @param name the new folder's name
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST CreateFolderAsync(const wchar_t* parentPath, const wchar_t* name,
                                              void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts CreateFolder() on a worker thread; its completion notification carries the
  /// result CreateFolder() would return.
  /// @param parent the folder to create it in: its path and name
  /// @param name the new folder's name
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST CreateFolderAsync(CVeskHttpFileEntry parent, const wchar_t* name,
                                              void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts CopyFile() on a worker thread; its completion notification carries the
  /// result CopyFile() would return.
  /// @param sourcePath the item's device path
  /// @param destFolder the device folder to put it in
  /// @param mode for an item of the same name in @p destFolder: 0 refuse, 1 replace files and merge
  ///        folders
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the job's percentage while
  ///        it runs; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST CopyFileAsync(const wchar_t* sourcePath, const wchar_t* destFolder,
                                          int mode, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts CopyFile() on a worker thread; its completion notification carries the
  /// result CopyFile() would return.
  /// @param source the item: its path and name
  /// @param destFolder the device folder to put it in
  /// @param mode for an item of the same name in @p destFolder: 0 refuse, 1 replace files and merge
  ///        folders
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the job's percentage while
  ///        it runs; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST CopyFileAsync(CVeskHttpFileEntry source, const wchar_t* destFolder,
                                          int mode, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts MoveFile() on a worker thread; its completion notification carries the
  /// result MoveFile() would return.
  /// @param sourcePath the item's device path
  /// @param destFolder the device folder to put it in
  /// @param mode for an item of the same name in @p destFolder: 0 refuse, 1 replace files and merge
  ///        folders
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the job's percentage while
  ///        it runs; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST MoveFileAsync(const wchar_t* sourcePath, const wchar_t* destFolder,
                                          int mode, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts MoveFile() on a worker thread; its completion notification carries the
  /// result MoveFile() would return.
  /// @param source the item: its path and name
  /// @param destFolder the device folder to put it in
  /// @param mode for an item of the same name in @p destFolder: 0 refuse, 1 replace files and merge
  ///        folders
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the job's percentage while
  ///        it runs; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST MoveFileAsync(CVeskHttpFileEntry source, const wchar_t* destFolder,
                                          int mode, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts DeleteFile() on a worker thread; its completion notification carries the
  /// result DeleteFile() would return.
  /// @param path the item's device path
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST DeleteFileAsync(const wchar_t* path, void* userData,
                                            VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts DeleteFile() on a worker thread; its completion notification carries the
  /// result DeleteFile() would return.
  /// @param item the item: its path and name
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST DeleteFileAsync(CVeskHttpFileEntry item, void* userData,
                                            VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts RenameFile() on a worker thread; its completion notification carries the
  /// result RenameFile() would return.
  /// @param path the item's device path
  /// @param newName its new name
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST RenameFileAsync(const wchar_t* path, const wchar_t* newName,
                                            void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts SetFileModifyTime() on a worker thread; its completion notification carries
  /// the result SetFileModifyTime() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetFileStatusResult().
  /// @param path the item's device path
  /// @param modifyTime the time, in seconds since 1970-01-01 UTC, from 1 on
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in, the time is 0 or below (since 1.1), or the worker thread did not start
  virtual VESK_HTTP_REQUEST SetFileModifyTimeAsync(const wchar_t* path, int modifyTime,
                                                   void* userData,
                                                   VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts SearchFile() on a worker thread; its completion notification carries the
  /// result SearchFile() would return. Outputs: IVeskHttpFileStationRequestBase::GetFileEntryList()
  /// and IVeskHttpFileStationRequestBase::GetTotalCount().
  /// @param folderPath the folder to search
  /// @param keyword the text names must contain
  /// @param limit the most items to return
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST SearchFileAsync(const wchar_t* folderPath, const wchar_t* keyword,
                                            int limit, void* userData,
                                            VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts GetFileStatus() on a worker thread; its completion notification carries the
  /// result GetFileStatus() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetFileStatusResult().
  /// @param path the item's device path
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST GetFileStatusAsync(const wchar_t* path, void* userData,
                                               VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts CompressFile() on a worker thread; its completion notification carries the
  /// result CompressFile() would return.
  /// @param archiveName the archive's name
  /// @param folderPath the device folder of the items and the archive
  /// @param fileCount the number of items
  /// @param names the items' names
  /// @param format 0 zip, 1 7z
  /// @param password the archive's password; empty for none
  /// @param level 0 normal, 1 large, 2 fast
  /// @param encryption with a password: 0 AES-256, 1 ZipCrypto
  /// @param updateMode 0 replace, 1 refuse, 2 add, 3 add replacing older entries
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the job's percentage while
  ///        it runs; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in, a name is null, or the worker thread did not start
  virtual VESK_HTTP_REQUEST CompressFileAsync(const wchar_t* archiveName, const wchar_t* folderPath,
                                              int fileCount,
                                              const std::vector<const wchar_t*>& names, int format,
                                              const wchar_t* password, int level, int encryption,
                                              int updateMode, void* userData,
                                              VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts GetExtractList() on a worker thread; its completion notification carries the
  /// result GetExtractList() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetExtractEntryList().
  /// @param archivePath the archive's device path
  /// @param startIndex the first entry of the page, from 0
  /// @param limit the most entries to list
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST GetExtractListAsync(const wchar_t* archivePath, int startIndex,
                                                int limit, void* userData,
                                                VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts ExtractFile() on a worker thread; its completion notification carries the
  /// result ExtractFile() would return.
  /// @param archivePath the archive's device path
  /// @param destFolder the device folder to unpack into
  /// @param password the archive's password; empty for none
  /// @param mode 0 every entry, 1 the named ones
  /// @param fileCount with mode 1: the number of names
  /// @param names with mode 1: entry paths inside the archive
  /// @param overwrite 0 refuses to replace a file, non-zero replaces
  /// @param pathMode 0 files straight into @p destFolder, 1 the archive's folders kept
  /// @param userData handed back in every notification
  /// @param notify called at the end, and with VESK_HTTP_IN_PROGRESS and the job's percentage while
  ///        it runs; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in, a name is null (mode 1), or the worker thread did not start
  virtual VESK_HTTP_REQUEST ExtractFileAsync(const wchar_t* archivePath, const wchar_t* destFolder,
                                             const wchar_t* password, int mode, int fileCount,
                                             const std::vector<const wchar_t*>& names,
                                             int overwrite, int pathMode, void* userData,
                                             VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts GetDomainIPList() on a worker thread; its completion notification carries
  /// the result GetDomainIPList() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetNASInfoResult().
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST GetDomainIPListAsync(void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts AddVideoTranscode() on a worker thread; its completion notification carries
  /// the result AddVideoTranscode() would return.
  /// @param path the file's device path
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST AddVideoTranscodeAsync(const wchar_t* path, void* userData,
                                                   VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts DeleteVideoTranscode() on a worker thread; its completion notification
  /// carries the result DeleteVideoTranscode() would return.
  /// @param path the file's device path
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST DeleteVideoTranscodeAsync(const wchar_t* path, void* userData,
                                                      VESK_HTTP_NOTIFY_CALLBACK notify) = 0;

 protected:
  /// Closed and destroyed by CVeskHttpServer::CloseFileStation, never deleted by the caller.
  virtual ~IVeskHttpFileStation() = default;

 public:
  // ---- Added in 1.1. They come after every slot of 1.0 (and its destructor), so that the
  // virtual table of 1.0 stays as it was and programs built against 1.0 keep working. ----

  // Listings and search with each entry's full status.
  /// Lists one page of a device folder with each entry's full status, in one request: the same
  /// page, order and errors as GetFileList(), with records as GetFileStatus() gives them (and their
  /// 64-bit modification times). Appends the records to @p list, each with @p folderPath as its
  /// path. Since 1.1.
  /// @param folderPath the folder, e.g. L"/Public"
  /// @param startIndex the first entry of the page, from 0
  /// @param limit the most entries to list
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param totalCount receives the folder's whole number of entries, not only this page's (may be
  ///        null)
  /// @param list receives the records (appended; may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a folder that is missing or not
  ///         permitted; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetFileStatusList(const wchar_t* folderPath, int startIndex, int limit,
                                             int* cancelFlag, int* totalCount,
                                             std::vector<CVeskHttpFileStatus>* list) = 0;
  /// Finds the items whose names contain a keyword, at any depth below a device folder, with each
  /// item's full status: the same search as SearchFile(), with records as GetFileStatus() gives
  /// them. The device's reply names no folder for them: each record's path is @p folderPath.
  /// Since 1.1.
  /// @param folderPath the folder to search
  /// @param keyword the text names must contain
  /// @param limit the most items to return
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param list receives the records (appended; may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_DEVICE_STATUS_4 for a folder that is missing or not
  ///         permitted; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT SearchFileStatus(const wchar_t* folderPath, const wchar_t* keyword,
                                            int limit, int* cancelFlag,
                                            std::vector<CVeskHttpFileStatus>* list) = 0;

  // Ranged reads.
  /// Reads @p length bytes of a device file from byte @p offset on (or to its end), handing them to
  /// @p sink in order as they arrive; nothing is held in memory or written to a local file. The
  /// read ends early, with VESK_HTTP_SUCCESS, when the sink returns 0 or the file ends before @p
  /// length bytes. A read that stops before the device's reply has ended closes its connection; one
  /// that ends with the reply leaves it for the next exchange. Since 1.1.
  /// @param devicePath the file's device path, e.g. L"/Public/a.iso"
  /// @param offset the first byte to read, from 0 (64-bit)
  /// @param length the most bytes to read; negative reads to the end; 0 reads nothing and sends no
  ///        request
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p sink and @p progress
  /// @param sink takes the bytes; must not be null
  /// @param progress called with the file's bytes read so far, counted from the file's start (so
  ///        from above @p offset), or null
  /// @param bytesRead receives the number of bytes handed to @p sink, whatever the result (may be
  ///        null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST when the path names no folder or no file,
  ///         the offset is negative, or @p sink is null; VESK_HTTP_BAD_HTTP_STATUS when the device
  ///         refuses (no such file, an offset beyond its end); VESK_HTTP_SEND_FAILED when the
  ///         connection breaks, also after bytes were handed over (never success for a read cut
  ///         short); and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT ReadFileRange(const wchar_t* devicePath, long long offset,
                                         long long length, int* cancelFlag, void* userData,
                                         VESK_HTTP_DATA_SINK sink,
                                         VESK_HTTP_PROGRESS_CALLBACK progress,
                                         long long* bytesRead) = 0;

  // Uploads from the caller's data.
  /// Uploads a file of @p size bytes, read through @p reader, into a device folder in one exchange,
  /// as UploadFile() does for a local file: under @p fileName, replacing a file of that name. A cut
  /// upload leaves nothing on the device. Since 1.1.
  /// @param deviceFolder the device folder to put it in
  /// @param fileName the file's name there
  /// @param size the file's size in bytes (64-bit)
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p reader and @p progress
  /// @param reader supplies the file's bytes; must not be null
  /// @param progress called with the file's bytes sent so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST when the name is empty, the size
  ///         negative, the reader null, or the reader fails or ends before @p size bytes;
  ///         VESK_HTTP_SERVER_FAILED when the device refuses the file; VESK_HTTP_SEND_FAILED when
  ///         the connection breaks; and the codes any exchange may end with
  ///         (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT UploadFromReader(const wchar_t* deviceFolder, const wchar_t* fileName,
                                            long long size, int* cancelFlag, void* userData,
                                            VESK_HTTP_DATA_SOURCE reader,
                                            VESK_HTTP_PROGRESS_CALLBACK progress) = 0;
  /// Sends a file of @p size bytes, read through @p reader, to a chunked upload, or what the device
  /// does not hold of it yet, as ChunkedUploadFile() does for a local file: it asks the device how
  /// many bytes it holds and sends the rest in one exchange. Once the device holds the whole file
  /// it moves it into @p deviceFolder under @p fileName, stamped with @p modifyTime, replacing a
  /// file of that name. After a failure call it again with the same arguments until it returns
  /// VESK_HTTP_SUCCESS (or give up with DeleteChunkedUploadFile): nothing is sent twice. Since 1.1.
  /// @param deviceFolder the device folder the file goes into
  /// @param fileName the file's name there
  /// @param uploadId the id StartChunkedUpload gave
  /// @param tempFolder the folder given to StartChunkedUpload
  /// @param size the file's size in bytes (64-bit)
  /// @param modifyTime the file's modification time, in seconds since 1970-01-01 UTC, from 1 to
  ///        253402300799 (the end of the year 9999)
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param userData handed back to @p reader and @p progress
  /// @param reader supplies the file's bytes; must not be null
  /// @param progress called with the file's bytes the device holds (counted from the file's start)
  ///        so far, or null
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_CHUNK_STATUS_5 when the device does not know the upload;
  ///         VESK_HTTP_INVALID_REQUEST when the name is empty, the size negative or smaller than
  ///         what the device holds, the time out of range, the reader null, or the reader fails or
  ///         ends early; VESK_HTTP_SERVER_FAILED when the device refuses the data;
  ///         VESK_HTTP_SEND_FAILED when the connection breaks (what arrived stays on the device);
  ///         and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT ChunkedUploadFromReader(const wchar_t* deviceFolder,
                                                   const wchar_t* fileName, const wchar_t* uploadId,
                                                   const wchar_t* tempFolder, long long size,
                                                   long long modifyTime, int* cancelFlag,
                                                   void* userData, VESK_HTTP_DATA_SOURCE reader,
                                                   VESK_HTTP_PROGRESS_CALLBACK progress) = 0;

  // 64-bit modification times.
  /// Sets the modification time of a device file or folder and reads its status back, as
  /// SetFileModifyTime() does, with the time in 64 bits. A time the device does not take is refused
  /// before anything is sent, never cut to fit. Since 1.1; SetFileModifyTime() forwards to it.
  /// @param path the item's device path
  /// @param modifyTime the time, in seconds since 1970-01-01 UTC, from 1 to 253402300799 (the end
  ///        of the year 9999)
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  ///        (see the class documentation)
  /// @param status receives the item's status after the change (may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_INVALID_REQUEST for a time out of range;
  ///         VESK_HTTP_DEVICE_STATUS_4 for a missing or not permitted item; and the codes any
  ///         exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT SetFileModifyTime64(const wchar_t* path, long long modifyTime,
                                               int* cancelFlag, CVeskHttpFileStatus* status) = 0;

  // The asynchronous forms of the 1.1 operations.
  /// Starts GetFileStatusList() on a worker thread; its completion notification carries the result
  /// GetFileStatusList() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetFileStatusList() and
  /// IVeskHttpFileStationRequestBase::GetTotalCount() (the folder's whole count). Since 1.1.
  /// @param folderPath the folder
  /// @param startIndex the first entry of the page, from 0
  /// @param limit the most entries to list
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST GetFileStatusListAsync(const wchar_t* folderPath, int startIndex,
                                                   int limit, void* userData,
                                                   VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts SearchFileStatus() on a worker thread; its completion notification carries the result
  /// SearchFileStatus() would return. Outputs:
  /// IVeskHttpFileStationRequestBase::GetFileStatusList() and
  /// IVeskHttpFileStationRequestBase::GetTotalCount(). Since 1.1.
  /// @param folderPath the folder to search
  /// @param keyword the text names must contain
  /// @param limit the most items to return
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST SearchFileStatusAsync(const wchar_t* folderPath, const wchar_t* keyword,
                                                  int limit, void* userData,
                                                  VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts ReadFileRange() on a worker thread, where @p sink is called; progress comes as
  /// in-progress notifications (operation VESK_HTTP_OP_DOWNLOAD_FILE) and the completion
  /// notification carries the result ReadFileRange() would return. Output:
  /// IVeskHttpFileStationRequestBase::GetBytesRead(). Since 1.1.
  /// @param devicePath the file's device path
  /// @param offset the first byte to read, from 0 (64-bit)
  /// @param length the most bytes to read; negative reads to the end
  /// @param userData handed back to @p sink and in every notification
  /// @param sink takes the bytes; must not be null
  /// @param notify called with progress and at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST ReadFileRangeAsync(const wchar_t* devicePath, long long offset,
                                               long long length, void* userData,
                                               VESK_HTTP_DATA_SINK sink,
                                               VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts UploadFromReader() on a worker thread, where @p reader is called; progress comes as
  /// in-progress notifications and the completion notification (operation
  /// VESK_HTTP_OP_UPLOAD_FILE) carries the result UploadFromReader() would return. Since 1.1.
  /// @param deviceFolder the device folder to put it in
  /// @param fileName the file's name there
  /// @param size the file's size in bytes
  /// @param userData handed back to @p reader and in every notification
  /// @param reader supplies the file's bytes; must not be null
  /// @param notify called with progress and at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST UploadFromReaderAsync(const wchar_t* deviceFolder,
                                                  const wchar_t* fileName, long long size,
                                                  void* userData, VESK_HTTP_DATA_SOURCE reader,
                                                  VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts ChunkedUploadFromReader() on a worker thread, where @p reader is called; progress comes
  /// as in-progress notifications (operation VESK_HTTP_OP_UPLOAD_FILE) and the completion
  /// notification (operation VESK_HTTP_OP_CHUNKED_UPLOAD_FILE) carries the result
  /// ChunkedUploadFromReader() would return. Since 1.1.
  /// @param deviceFolder the device folder the file goes into
  /// @param fileName the file's name there
  /// @param uploadId the id StartChunkedUpload gave
  /// @param tempFolder the folder given to StartChunkedUpload
  /// @param size the file's size in bytes
  /// @param modifyTime the file's modification time, in seconds since 1970-01-01 UTC
  /// @param userData handed back to @p reader and in every notification
  /// @param reader supplies the file's bytes; must not be null
  /// @param notify called with progress and at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in or the worker thread did not start
  virtual VESK_HTTP_REQUEST ChunkedUploadFromReaderAsync(
      const wchar_t* deviceFolder, const wchar_t* fileName, const wchar_t* uploadId,
      const wchar_t* tempFolder, long long size, long long modifyTime, void* userData,
      VESK_HTTP_DATA_SOURCE reader, VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
  /// Starts SetFileModifyTime64() on a worker thread; its completion notification carries the
  /// result SetFileModifyTime64() would return. Output:
  /// IVeskHttpFileStationRequestBase::GetFileStatusResult(). Since 1.1.
  /// @param path the item's device path
  /// @param modifyTime the time, in seconds since 1970-01-01 UTC, from 1 to 253402300799
  /// @param userData handed back in every notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the station is not
  ///         logged in, the time is out of range (nothing is sent), or the worker thread did not
  ///         start
  virtual VESK_HTTP_REQUEST SetFileModifyTime64Async(const wchar_t* path, long long modifyTime,
                                                     void* userData,
                                                     VESK_HTTP_NOTIFY_CALLBACK notify) = 0;
};

// ---------------------------------------------------------------------------------------
// The system service.
// ---------------------------------------------------------------------------------------

/// The device's system service: its administrator session, its web-server settings and the
/// switch of its web file manager.
///
/// CVeskHttpServer::Login(VESK_HTTP_STATION_SYSTEM) creates and logs in the service,
/// CVeskHttpServer::OpenSystem hands it out and CVeskHttpServer::CloseSystem logs it out and
/// destroys it. Synchronous and asynchronous operations, cancelling and threads follow the
/// rules of IVeskHttpFileStation.
class VESK_HTTP_API IVeskHttpSystem {
 public:
  /// Reads the device's web-server settings.
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  /// @param settings receives the settings, only on VESK_HTTP_SUCCESS (may be null)
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_SERVER_FAILED for a reply without the settings or that
  ///         refuses the session; VESK_HTTP_NOT_LOGGED_IN; and the codes any exchange may end with
  ///         (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT GetSystemSetting(int* cancelFlag,
                                            CVeskHttpSystemSettingInfo* settings) = 0;
  /// Switches the device's web file manager on. The device answers alike whether or not it
  /// complied: any 200 reply is a success.
  /// @param cancelFlag the caller's cancel flag, or null: set it to 1 from another thread to cancel
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_NOT_LOGGED_IN; and the codes any exchange may end with
  ///         (\ref _VESK_HTTP_API_RESULT_)
  virtual VESK_HTTP_RESULT EnableWebFileManager(int* cancelFlag) = 0;
  /// Releases an asynchronous request of this service and nulls the caller's pointer, as
  /// IVeskHttpFileStation::CloseRequest does.
  /// @param request the caller's handle
  /// @return 1
  virtual int CloseRequest(IVeskHttpSystemRequestBase** request) = 0;
  /// Starts GetSystemSetting() on a worker thread; its completion notification carries
  /// the result GetSystemSetting() would return. Output:
  /// IVeskHttpSystemRequestBase::GetSystemSettingResult().
  /// @param userData handed back in the notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the service is not
  ///         logged in or the worker thread did not start
  virtual IVeskHttpSystemRequestBase* GetSystemSettingAsync(
      void* userData, VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) = 0;
  /// Starts EnableWebFileManager() on a worker thread; its completion notification
  /// carries the result EnableWebFileManager() would return.
  /// @param userData handed back in the notification
  /// @param notify called at the end; may be null
  /// @return the request's handle, given back with CloseRequest; null when the service is not
  ///         logged in or the worker thread did not start
  virtual IVeskHttpSystemRequestBase* EnableWebFileManagerAsync(
      void* userData, VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) = 0;

 protected:
  /// Closed and destroyed by CVeskHttpServer::CloseSystem, never deleted by the caller.
  virtual ~IVeskHttpSystem() = default;
};

// ---------------------------------------------------------------------------------------
// The caller's entry point: one object per device. Login creates and logs in a station;
// Open hands it out (the server keeps it); Close logs it out and destroys it. The caller
// closes its stations, after releasing their request handles, before destroying the server.
// ---------------------------------------------------------------------------------------

/// The caller's entry point: one object per device.
///
/// Construct it with a CVeskHttpServerInfo, set ports, agent name, time-out and HTTPS checks,
/// then Login to one or both services (the system service first when the file service is to
/// log in through its session), and use the stations that OpenFileStation and OpenSystem
/// hand out. The server owns its stations: CloseFileStation and CloseSystem log them out and
/// destroy them. The caller releases every request handle before closing a station and
/// closes its stations before destroying the server, whose destructor does not close them.
///
/// The settings are copied into each station at its login: a change reaches the stations
/// logged in after it. A server object is used by one thread at a time; the stations it
/// hands out may be used by many at once.
class VESK_HTTP_API CVeskHttpServer {
 public:
  /// A server with an empty CVeskHttpServerInfo; see the other constructor.
  CVeskHttpServer();
  /// A server for the device, user and password @p info names, with the default settings: ports
  /// 8080 (HTTP) and 443 (HTTPS) for both services, the library's agent name, the default
  /// time-outs, and any HTTPS certificate accepted.
  /// @param info where and as whom to connect; copied
  explicit CVeskHttpServer(CVeskHttpServerInfo info);
  /// A copy of the settings and of the station pointers: copies share the stations, and each
  /// station is closed once, through one of them.
  CVeskHttpServer(const CVeskHttpServer& other);
  /// Copies the settings and the station pointers of @p other, as the copy constructor does.
  /// Stations this server held stay open, the caller's to close.
  CVeskHttpServer& operator=(const CVeskHttpServer& other);
  /// Destroys the server; it does not close its stations (close them first).
  ~CVeskHttpServer();

  /// Sets the file service's HTTP port (default 8080).
  /// @param port the port
  /// @return 1
  int SetFileStationPortNum(long port);
  /// Sets the file service's HTTPS port (default 443), used with CVeskHttpServerInfo's secure mode.
  /// @param port the port
  /// @return 1
  int SetFileStationSSLPortNum(long port);
  /// Sets the system service's HTTP port (default 8080).
  /// @param port the port
  /// @return 1
  int SetSystemPortNum(long port);
  /// Sets the system service's HTTPS port (default 443).
  /// @param port the port
  /// @return 1
  int SetSystemSSLPortNum(long port);
  /// Sets the User-Agent of every request.
  /// @param agentName the agent name (a header is one line: a control character in it is sent as
  ///        a space); null or empty keeps the library's own
  /// @return 1
  int SetAgentName(const wchar_t* agentName);
  /// Sets one time-out for name resolution, connecting, sending and receiving alike.
  /// @param timeoutMs milliseconds; 0 or less keeps the defaults (name resolution without limit, 60
  ///        s to connect, 30 s to send, 30 s to receive)
  /// @return 1
  int SetTimeouts(int timeoutMs);
  /// Sets the HTTPS checks of the device's certificate. By default any certificate is accepted:
  /// devices serve self-signed ones. With @p verify 1 it must chain to an authority of the system's
  /// trust store or, when @p caFile names a PEM file, of that file alone, and name the host; a
  /// certificate that does not pass fails the exchange with VESK_HTTP_SEND_FAILED.
  /// @param verify 1 to check certificates, 0 to accept any (the default)
  /// @param caFile with @p verify 1: a PEM file of the authorities to trust; null or empty for the
  ///        system's
  /// @return 1; 0 when the settings could not be stored (memory ran out), which leaves the
  ///         previous ones in force
  int SetVerifyCertificate(int verify, const wchar_t* caFile);
  /// Pins the device's certificate by its SHA-256 fingerprint. A connection whose certificate has
  /// another fingerprint fails with VESK_HTTP_SEND_FAILED before any request byte is sent, whether
  /// or not certificates are verified.
  /// @param sha256Fingerprint 64 hexadecimal digits in either case, run together or as 32 pairs
  ///        joined by colons; null or empty removes the pin
  /// @return 1, or 0 for a malformed fingerprint, which leaves the pin as it was
  int SetCertificatePin(const wchar_t* sha256Fingerprint);
  /// Sets how operations that are safe to repeat are retried after a failure that may pass (since
  /// 1.1): a connection refused, reset or timed out (VESK_HTTP_SEND_FAILED), or the HTTP statuses
  /// 408, 429, 500, 502, 503 and 504. Such an operation is tried again up to @p maxRetries times,
  /// after a wait drawn at random between 0 and a limit that starts at @p initialDelayMs and
  /// doubles with each retry up to @p maxDelayMs, or the wait the device's Retry-After header asks
  /// for (bounded by @p maxDelayMs). A cancel ends a wait at once.
  ///
  /// The operations retried are those safe to repeat: listings, status, search, counts, downloads
  /// and ranged reads (resumed after the bytes already delivered, so no byte is written twice),
  /// settings, share-link lists and the status queries of device jobs; and the attempts of a
  /// chunked upload, which resume by their own protocol. Never retried: creating, renaming,
  /// deleting, starting a copy or move, whole-file uploads and creating share links.
  ///
  /// Off by default (0 retries). Like the other settings, the policy reaches the stations logged in
  /// after it is set.
  /// @param maxRetries how many times to retry one operation; 0 turns retrying off
  /// @param initialDelayMs the limit of the first wait, in milliseconds
  /// @param maxDelayMs the most any wait may last, in milliseconds
  /// @return 1; 0 for a negative value or @p initialDelayMs above @p maxDelayMs, which leave the
  ///         policy as it was
  int SetRetryPolicy(int maxRetries, int initialDelayMs, int maxDelayMs);

  /// Creates a station of one service and logs it in, on the calling thread.
  /// VESK_HTTP_STATION_SYSTEM logs in to the system service with the user name and password.
  /// VESK_HTTP_STATION_FILE_STATION logs in to the file service: through the system service's
  /// session when this server's system service is logged in (no password is sent), else with the
  /// user name, password and computer name. On success the server keeps the new station for
  /// OpenFileStation or OpenSystem; a station of the same type logged in before stays open, the
  /// caller's to close.
  /// @param type the service
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_LOGIN_FAILED when the device refuses;
  ///         VESK_HTTP_BAD_STATION_TYPE for an unknown @p type; VESK_HTTP_SEND_FAILED, with nothing
  ///         sent, for a host name that can name no host (empty, longer than 259 characters, or
  ///         holding a space, a control character, a code unit that is no Unicode scalar value, a
  ///         slash, a backslash, a question mark, a number sign or an at sign); and the codes any
  ///         exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  VESK_HTTP_RESULT Login(_VESK_HTTP_STATION_TYPE_ type);
  /// Hands out the file service that Login made; the server keeps owning it.
  /// @return the station, or null before a successful Login(VESK_HTTP_STATION_FILE_STATION)
  IVeskHttpFileStation* OpenFileStation();
  /// Hands out the system service that Login made; the server keeps owning it.
  /// @return the service, or null before a successful Login(VESK_HTTP_STATION_SYSTEM)
  IVeskHttpSystem* OpenSystem();
  /// Logs the file service out and destroys it, then nulls the caller's pointer. Its request
  /// handles must all have been released. On a failed logout the station stays open.
  /// @param station the caller's pointer to the station
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_NOT_LOGGED_IN for a null pointer or a station that is not
  ///         logged in; VESK_HTTP_SERVER_FAILED when the device refuses the logout; and the codes
  ///         any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  VESK_HTTP_RESULT CloseFileStation(IVeskHttpFileStation** station);
  /// Logs the system service out and destroys it, then nulls the caller's pointer. Its request
  /// handles must all have been released. On a failed logout it stays open.
  /// @param system the caller's pointer to the service
  /// @return VESK_HTTP_SUCCESS; VESK_HTTP_NOT_LOGGED_IN for a null pointer or a service that is not
  ///         logged in; and the codes any exchange may end with (\ref _VESK_HTTP_API_RESULT_)
  VESK_HTTP_RESULT CloseSystem(IVeskHttpSystem** system);
  /// The file service's interface version.
  /// @return VESK_HTTP_FILE_STATION_API_VERSION_1 once a file-service login has succeeded, else
  ///         VESK_HTTP_FILE_STATION_API_VERSION_NONE
  _VESK_HTTP_FILE_STATION_API_VERSION_ QueryFileStationVersion();
  /// The system service's interface version.
  /// @return VESK_HTTP_SYSTEM_API_VERSION_1 once a system login has succeeded, else
  ///         VESK_HTTP_SYSTEM_API_VERSION_NONE
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
  int verifyCertificate_;
  std::wstring caFile_;
  std::string certificatePin_;  // the fingerprint's 32 bytes; empty: not pinned
  _VESK_HTTP_FILE_STATION_API_VERSION_ fileStationVersion_;
  _VESK_HTTP_SYSTEM_API_VERSION_ systemVersion_;
};

// The sequence types exchanged with callers; the library exports their code so that
// callers and the library agree on one instantiation. (The library's own sources refer to it
// too: a hidden copy made elsewhere in the library would hide the exported one.)
/// @cond VESK_HTTP_INTERNAL
// A Windows DLL shares no template code with its callers: each instantiates its own, as it
// does for every other standard type.
#if !defined(_WIN32)
extern template class std::vector<CVeskHttpFileEntry>;
extern template class std::vector<CVeskHttpExtractEntry>;
extern template class std::vector<CVeskHttpShareLink>;
extern template class std::vector<CVeskHttpFileStatus>;
#endif
/// @endcond

#endif  // VESK_HTTP_H
