// The file service: a logged-in session with the device's file functions. It holds the
// connection data and sids of its login and the list of its live requests, and turns every
// operation into one request that runs on the caller's thread or on a worker of its own.
#pragma once

#include <string>
#include <utility>

#include "VeskHttp.h"
#include "filestation/FSRequest.h"
#include "filestation/Station.h"

namespace vesk {

class FileStation final : public IVeskHttpFileStation, public Station<FSRequest> {
 public:
  FileStation();
  ~FileStation() override;

  // Takes over a logged-in system session: its connection data, its ports and its sid. The
  // login then asks the file service for a session of this computer instead of sending the
  // password.
  void UseSystemSession(const Connection& connection, int port, int sslPort,
                        const std::wstring& systemSid);

  int Login(const std::wstring& host, const std::wstring& user, const std::wstring& password,
            int ssl, const std::wstring& computerName);
  // Logs out; on success the station is no longer logged in and may be destroyed.
  int Close();

  // The sid every request carries.
  const std::wstring& RequestSid() const;

  VESK_HTTP_RESULT GetShareFolderList(int* cancelFlag,
                                      std::vector<CVeskHttpFileEntry>* list) override;
  VESK_HTTP_RESULT GetFileListCount(const wchar_t* folderPath, int* cancelFlag,
                                    int* count) override;
  VESK_HTTP_RESULT GetFileList(const wchar_t* folderPath, int startIndex, int limit,
                               int* cancelFlag, std::vector<CVeskHttpFileEntry>* list) override;
  VESK_HTTP_RESULT GetViewerURL(const wchar_t* filePath, std::wstring* url) override;
  VESK_HTTP_RESULT GetThumbnailURL(const wchar_t* filePath, std::wstring* url) override;
  VESK_HTTP_RESULT UploadFile(const wchar_t* localPath, const wchar_t* deviceFolder,
                              int* cancelFlag, void* userData,
                              VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT StartChunkedUpload(const wchar_t* tempFolder, int* cancelFlag,
                                      std::wstring* uploadId) override;
  VESK_HTTP_RESULT ChunkedUploadFile(const wchar_t* localPath, const wchar_t* deviceFolder,
                                     const wchar_t* newName, const wchar_t* uploadId,
                                     const wchar_t* tempFolder, int* cancelFlag, void* userData,
                                     VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT DeleteChunkedUploadFile(const wchar_t* uploadId, const wchar_t* tempFolder,
                                           int* cancelFlag) override;
  VESK_HTTP_RESULT DownloadFile(CVeskHttpFileEntry entry, const wchar_t* localPath,
                                long long offset, int* cancelFlag, void* userData,
                                VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT DownloadFile(const wchar_t* devicePath, const wchar_t* localPath,
                                long long offset, int* cancelFlag, void* userData,
                                VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT CreateShareLink(CVeskHttpShareLinkInfo info, int* cancelFlag,
                                   CVeskHttpShareLink* link) override;
  VESK_HTTP_RESULT GetShareLinkList(int limit, int* cancelFlag,
                                    std::vector<CVeskHttpShareLink>* list) override;
  VESK_HTTP_RESULT DeleteShareLink(CVeskHttpShareLink link, int* cancelFlag) override;
  VESK_HTTP_RESULT CreateFolder(const wchar_t* parentPath, const wchar_t* name,
                                int* cancelFlag) override;
  VESK_HTTP_RESULT CreateFolder(CVeskHttpFileEntry parent, const wchar_t* name,
                                int* cancelFlag) override;
  VESK_HTTP_RESULT CopyFile(const wchar_t* sourcePath, const wchar_t* destFolder, int mode,
                            int* cancelFlag, void* userData,
                            VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT CopyFile(CVeskHttpFileEntry source, const wchar_t* destFolder, int mode,
                            int* cancelFlag, void* userData,
                            VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT MoveFile(const wchar_t* sourcePath, const wchar_t* destFolder, int mode,
                            int* cancelFlag, void* userData,
                            VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT MoveFile(CVeskHttpFileEntry source, const wchar_t* destFolder, int mode,
                            int* cancelFlag, void* userData,
                            VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT DeleteFile(const wchar_t* path, int* cancelFlag) override;
  VESK_HTTP_RESULT DeleteFile(CVeskHttpFileEntry item, int* cancelFlag) override;
  VESK_HTTP_RESULT RenameFile(const wchar_t* path, const wchar_t* newName,
                              int* cancelFlag) override;
  VESK_HTTP_RESULT SetFileModifyTime(const wchar_t* path, int modifyTime, int* cancelFlag,
                                     CVeskHttpFileStatus* status) override;
  VESK_HTTP_RESULT SearchFile(const wchar_t* folderPath, const wchar_t* keyword, int limit,
                              int* cancelFlag, std::vector<CVeskHttpFileEntry>* list) override;
  VESK_HTTP_RESULT GetFileStatus(const wchar_t* path, int* cancelFlag,
                                 CVeskHttpFileStatus* status) override;
  VESK_HTTP_RESULT CompressFile(const wchar_t* archiveName, const wchar_t* folderPath,
                                int fileCount, const std::vector<const wchar_t*>& names, int format,
                                const wchar_t* password, int level, int encryption, int updateMode,
                                int* cancelFlag, void* userData,
                                VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT GetExtractList(const wchar_t* archivePath, int startIndex, int limit,
                                  int* cancelFlag,
                                  std::vector<CVeskHttpExtractEntry>* list) override;
  VESK_HTTP_RESULT ExtractFile(const wchar_t* archivePath, const wchar_t* destFolder,
                               const wchar_t* password, int mode, int fileCount,
                               const std::vector<const wchar_t*>& names, int overwrite,
                               int pathMode, int* cancelFlag, void* userData,
                               VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT GetDomainIPList(int* cancelFlag, CVeskHttpNASInfo* info) override;
  VESK_HTTP_RESULT AddVideoTranscode(const wchar_t* path, int* cancelFlag) override;
  VESK_HTTP_RESULT DeleteVideoTranscode(const wchar_t* path, int* cancelFlag) override;
  int CloseRequest(IVeskHttpFileStationRequestBase** request) override;
  VESK_HTTP_REQUEST GetShareFolderListAsync(void* userData,
                                            VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST GetFileListCountAsync(const wchar_t* folderPath, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST GetFileListAsync(const wchar_t* folderPath, int startIndex, int limit,
                                     void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST CreateShareLinkAsync(CVeskHttpShareLinkInfo info, void* userData,
                                         VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST GetShareLinkListAsync(int limit, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST DeleteShareLinkAsync(CVeskHttpShareLink link, void* userData,
                                         VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST UploadFileAsync(const wchar_t* localPath, const wchar_t* deviceFolder,
                                    void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST StartChunkedUploadAsync(const wchar_t* tempFolder, void* userData,
                                            VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST ChunkedUploadFileAsync(const wchar_t* localPath, const wchar_t* deviceFolder,
                                           const wchar_t* newName, const wchar_t* uploadId,
                                           const wchar_t* tempFolder, void* userData,
                                           VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST DeleteChunkedUploadFileAsync(const wchar_t* uploadId, const wchar_t* tempFolder,
                                                 void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST DownloadFileAsync(const wchar_t* devicePath, const wchar_t* localPath,
                                      long long offset, void* userData,
                                      VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST DownloadFileAsync(CVeskHttpFileEntry entry, const wchar_t* localPath,
                                      long long offset, void* userData,
                                      VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST CreateFolderAsync(const wchar_t* parentPath, const wchar_t* name,
                                      void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST CreateFolderAsync(CVeskHttpFileEntry parent, const wchar_t* name,
                                      void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST CopyFileAsync(const wchar_t* sourcePath, const wchar_t* destFolder, int mode,
                                  void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST CopyFileAsync(CVeskHttpFileEntry source, const wchar_t* destFolder, int mode,
                                  void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST MoveFileAsync(const wchar_t* sourcePath, const wchar_t* destFolder, int mode,
                                  void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST MoveFileAsync(CVeskHttpFileEntry source, const wchar_t* destFolder, int mode,
                                  void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST DeleteFileAsync(const wchar_t* path, void* userData,
                                    VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST DeleteFileAsync(CVeskHttpFileEntry item, void* userData,
                                    VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST RenameFileAsync(const wchar_t* path, const wchar_t* newName, void* userData,
                                    VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST SetFileModifyTimeAsync(const wchar_t* path, int modifyTime, void* userData,
                                           VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST SearchFileAsync(const wchar_t* folderPath, const wchar_t* keyword, int limit,
                                    void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST GetFileStatusAsync(const wchar_t* path, void* userData,
                                       VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST CompressFileAsync(const wchar_t* archiveName, const wchar_t* folderPath,
                                      int fileCount, const std::vector<const wchar_t*>& names,
                                      int format, const wchar_t* password, int level,
                                      int encryption, int updateMode, void* userData,
                                      VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST GetExtractListAsync(const wchar_t* archivePath, int startIndex, int limit,
                                        void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST ExtractFileAsync(const wchar_t* archivePath, const wchar_t* destFolder,
                                     const wchar_t* password, int mode, int fileCount,
                                     const std::vector<const wchar_t*>& names, int overwrite,
                                     int pathMode, void* userData,
                                     VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST GetDomainIPListAsync(void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST AddVideoTranscodeAsync(const wchar_t* path, void* userData,
                                           VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST DeleteVideoTranscodeAsync(const wchar_t* path, void* userData,
                                              VESK_HTTP_NOTIFY_CALLBACK notify) override;

  // ---- since 1.1 ----
  VESK_HTTP_RESULT GetFileStatusList(const wchar_t* folderPath, int startIndex, int limit,
                                     int* cancelFlag, int* totalCount,
                                     std::vector<CVeskHttpFileStatus>* list) override;
  VESK_HTTP_RESULT SearchFileStatus(const wchar_t* folderPath, const wchar_t* keyword, int limit,
                                    int* cancelFlag,
                                    std::vector<CVeskHttpFileStatus>* list) override;
  VESK_HTTP_RESULT ReadFileRange(const wchar_t* devicePath, long long offset, long long length,
                                 int* cancelFlag, void* userData, VESK_HTTP_DATA_SINK sink,
                                 VESK_HTTP_PROGRESS_CALLBACK progress,
                                 long long* bytesRead) override;
  VESK_HTTP_RESULT UploadFromReader(const wchar_t* deviceFolder, const wchar_t* fileName,
                                    long long size, int* cancelFlag, void* userData,
                                    VESK_HTTP_DATA_SOURCE reader,
                                    VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT ChunkedUploadFromReader(const wchar_t* deviceFolder, const wchar_t* fileName,
                                           const wchar_t* uploadId, const wchar_t* tempFolder,
                                           long long size, long long modifyTime, int* cancelFlag,
                                           void* userData, VESK_HTTP_DATA_SOURCE reader,
                                           VESK_HTTP_PROGRESS_CALLBACK progress) override;
  VESK_HTTP_RESULT SetFileModifyTime64(const wchar_t* path, long long modifyTime, int* cancelFlag,
                                       CVeskHttpFileStatus* status) override;
  VESK_HTTP_REQUEST GetFileStatusListAsync(const wchar_t* folderPath, int startIndex, int limit,
                                           void* userData,
                                           VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST SearchFileStatusAsync(const wchar_t* folderPath, const wchar_t* keyword,
                                          int limit, void* userData,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST ReadFileRangeAsync(const wchar_t* devicePath, long long offset,
                                       long long length, void* userData, VESK_HTTP_DATA_SINK sink,
                                       VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST UploadFromReaderAsync(const wchar_t* deviceFolder, const wchar_t* fileName,
                                          long long size, void* userData,
                                          VESK_HTTP_DATA_SOURCE reader,
                                          VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST ChunkedUploadFromReaderAsync(const wchar_t* deviceFolder,
                                                 const wchar_t* fileName, const wchar_t* uploadId,
                                                 const wchar_t* tempFolder, long long size,
                                                 long long modifyTime, void* userData,
                                                 VESK_HTTP_DATA_SOURCE reader,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) override;
  VESK_HTTP_REQUEST SetFileModifyTime64Async(const wchar_t* path, long long modifyTime,
                                             void* userData,
                                             VESK_HTTP_NOTIFY_CALLBACK notify) override;

 private:
  // A descriptor with the connection, the time-out, the agent name and the sid filled in.
  FSRequestDescriptor DescribeWithSid(int command, bool asynchronous) const;
  // Runs an operation's request on the caller's thread: fill adds the operation's parameters
  // to the descriptor, read copies its outputs when it succeeded.
  template <typename Fill, typename Read>
  VESK_HTTP_RESULT Sync(int command, int* cancelFlag, Fill&& fill, Read&& read,
                        void* userData = nullptr, VESK_HTTP_PROGRESS_CALLBACK progress = nullptr);
  // Starts an operation's request on its own worker and hands it to the caller.
  template <typename Fill>
  VESK_HTTP_REQUEST Async(int command, void* userData, VESK_HTTP_NOTIFY_CALLBACK notify,
                          Fill&& fill);
  void FillShareRoots(FSRequestDescriptor& d) const;
  void FillSearch(FSRequestDescriptor& d, const wchar_t* folderPath, const wchar_t* keyword,
                  int limit) const;
  void FillCreateFolder(FSRequestDescriptor& d, std::wstring parent, const wchar_t* name) const;
  VESK_HTTP_RESULT CopyOrMove(int command, std::pair<std::wstring, std::wstring> source,
                              const wchar_t* destFolder, int mode, int* cancelFlag, void* userData,
                              VESK_HTTP_PROGRESS_CALLBACK progress);
  VESK_HTTP_REQUEST CopyOrMoveAsync(int command, std::pair<std::wstring, std::wstring> source,
                                    const wchar_t* destFolder, int mode, void* userData,
                                    VESK_HTTP_NOTIFY_CALLBACK notify);
  // A download of a device folder's file; invalid sources and negative offsets are refused
  // without contacting the device.
  VESK_HTTP_RESULT Download(std::pair<std::wstring, std::wstring> source, const wchar_t* localPath,
                            long long offset, int* cancelFlag, void* userData,
                            VESK_HTTP_PROGRESS_CALLBACK progress);
  VESK_HTTP_REQUEST DownloadAsync(std::pair<std::wstring, std::wstring> source,
                                  const wchar_t* localPath, long long offset, void* userData,
                                  VESK_HTTP_NOTIFY_CALLBACK notify);
  void FillShareLink(FSRequestDescriptor& d, const CVeskHttpShareLinkInfo& info) const;
  // A link to the device's viewer or thumbnail of a file, with the login session's sid.
  VESK_HTTP_RESULT BuildFileURL(const wchar_t* filePath, bool viewer, std::wstring* url) const;

  std::wstring computerName_;
  std::wstring systemSid_;
  std::wstring sid_;
  std::wstring deviceSid_;
};

// Splits a device path at its last "/" or "\\" into the folder and the name; a path without
// either gives the whole path as both.
std::pair<std::wstring, std::wstring> SplitDevicePath(const std::wstring& path);

// The device type a computer name announces at login.
int DeviceTypeOf(const std::wstring& computerName);

}  // namespace vesk
