#include "filestation/FileStation.h"

#include <algorithm>
#include <array>

#include "filestation/Commands.h"
#include "filestation/commands/CommandSupport.h"
#include "http/ComputerIdentity.h"
#include "http/Encoding.h"

namespace vesk {
namespace {

constexpr auto kNoOutputs = [](FSRequest&) {};

}  // namespace

int DeviceTypeOf(const std::wstring& computerName) {
  if (computerName.find(L"_COMPUTER") != std::wstring::npos) return VESK_HTTP_DEVICE_COMPUTER;
  if (computerName.find(L"_MOBILE") != std::wstring::npos) return VESK_HTTP_DEVICE_MOBILE;
  if (computerName.find(L"_WEB") != std::wstring::npos) return VESK_HTTP_DEVICE_WEB;
  return VESK_HTTP_DEVICE_OTHER;
}

FileStation::FileStation() = default;
FileStation::~FileStation() = default;

void FileStation::UseSystemSession(const Connection& connection, int port, int sslPort,
                                   const std::wstring& systemSid) {
  connection_ = connection;
  computerName_.clear();  // the system session records no computer name
  SetPorts(port, sslPort);
  systemSid_ = systemSid;
}

const std::wstring& FileStation::RequestSid() const {
  // The sid fetched for this computer when there is one; otherwise the session's own sid,
  // also after a fresh login that named the computer (its reply's sid is the session's).
  return !computerName_.empty() && !deviceSid_.empty() ? deviceSid_ : sid_;
}

FSRequestDescriptor FileStation::DescribeWithSid(int command, bool asynchronous) const {
  FSRequestDescriptor d = Describe(command, asynchronous);
  d.stringParams[L"sid"] = RequestSid();
  return d;
}

int FileStation::Login(const std::wstring& host, const std::wstring& user,
                       const std::wstring& password, int ssl, const std::wstring& computerName) {
  if (LoggedIn()) return VESK_HTTP_SUCCESS;
  return Guarded([&] {
    const bool throughSystem = !systemSid_.empty();
    const Connection connection{host, user, password, ssl};
    FSRequestDescriptor d =
        DescribeFor(connection, throughSystem ? FS_CMD_GET_SID : FS_CMD_LOGIN, false);
    if (throughSystem) {
      const std::wstring name = computerName.empty() ? L"NORVIK_MOBILE" : computerName;
      d.stringParams[L"computerName"] = name;
      d.intParams[L"deviceType"] = DeviceTypeOf(name);
      d.stringParams[L"computerUID"] = GetComputerUID();
      d.stringParams[L"sid"] = systemSid_;
    } else {
      d.stringParams[L"username"] = user;
      d.stringParams[L"password"] = password;
      if (!computerName.empty()) {
        d.stringParams[L"computerName"] = computerName;
        d.intParams[L"deviceType"] = DeviceTypeOf(computerName);
        d.stringParams[L"computerUID"] = GetComputerUID();
      }
    }
    std::wstring sid, deviceSid;
    const int result = requests_.RunSync(std::move(d), nullptr, [&](FSRequest& r) {
      sid = r.Out().sid;
      deviceSid = r.Out().deviceSid;
    });
    if (result != VESK_HTTP_SUCCESS) return result;
    if (throughSystem) {
      deviceSid_ = deviceSid;
      sid_ = systemSid_;
    } else {
      connection_ = connection;
      computerName_ = computerName;
      sid_ = sid;
    }
    loggedIn_ = 1;
    return result;
  });
}

int FileStation::Close() {
  const int result = Logout(DescribeWithSid(FS_CMD_LOGOUT, false));
  if (result == VESK_HTTP_SUCCESS) computerName_.clear();
  return result;
}

int FileStation::CloseRequest(IVeskHttpFileStationRequestBase** request) {
  try {
    return requests_.Close(request);
  } catch (...) {
    return 1;
  }
}

// ---- share roots and folder listings ----

namespace {

std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

// A finished request's records go to the caller's list: handed over whole to an empty list (a
// long listing is then never copied), appended to one that holds records already.
template <typename Record>
void AppendTo(std::vector<Record>* list, std::vector<Record>& entries) {
  if (!list) return;
  if (list->empty()) {
    list->swap(entries);
  } else {
    list->insert(list->end(), entries.begin(), entries.end());
  }
}

void FillList(FSRequestDescriptor& d, const wchar_t* folder, long long start, long long limit) {
  d.stringParams[L"folderpath"] = Text(folder);
  d.stringParams[L"pathName"] = L"*";
  d.stringParams[L"SortDir"] = L"ASC";
  d.stringParams[L"SortField"] = L"filename";
  d.intParams[L"startIndex"] = start;
  d.intParams[L"limit"] = limit;
  d.intParams[L"PathType"] = 3;
  d.intParams[L"PathInfoFlags"] = -1;
}

void FillItem(FSRequestDescriptor& d, const wchar_t* path) {
  auto [folder, name] = SplitDevicePath(Text(path));
  d.stringParams[L"folderpath"] = std::move(folder);
  d.stringParams[L"filename"] = std::move(name);
}

void FillStat(FSRequestDescriptor& d, const wchar_t* path) {
  FillItem(d, path);
  d.intParams[L"PathInfoFlags"] = -1;
}

void FillSetTime(FSRequestDescriptor& d, const wchar_t* path, long long modifyTime) {
  FillStat(d, path);
  d.intParams[L"modifyTime"] = modifyTime;
}

void FillRename(FSRequestDescriptor& d, const wchar_t* path, const wchar_t* newName) {
  FillItem(d, path);
  d.stringParams[L"newfilename"] = Text(newName);
}

void FillDelete(FSRequestDescriptor& d, std::wstring folder, std::wstring name) {
  d.stringParams[L"deletepath"] = std::move(folder);
  d.stringParams[L"deletename"] = std::move(name);
}

void FillCopyMove(FSRequestDescriptor& d, std::wstring folder, std::wstring name,
                  const wchar_t* destFolder, int mode) {
  d.stringParams[L"sourcepath"] = std::move(folder);
  d.stringParams[L"sourcefilename"] = std::move(name);
  d.stringParams[L"destpath"] = Text(destFolder);
  d.intParams[L"mode"] = mode;
}

// The folder a parent entry names: its own path and name.
std::wstring EntryFolder(const CVeskHttpFileEntry& entry) {
  return std::wstring(entry.GetFilePath()) + L"/" + entry.GetFileName();
}

}  // namespace

std::pair<std::wstring, std::wstring> SplitDevicePath(const std::wstring& path) {
  const auto at = path.find_last_of(L"/\\");
  if (at == std::wstring::npos) return {path, path};
  return {path.substr(0, at), path.substr(at + 1)};
}

template <typename Fill, typename Read>
VESK_HTTP_RESULT FileStation::Sync(int command, int* cancelFlag, Fill&& fill, Read&& read,
                                   void* userData, VESK_HTTP_PROGRESS_CALLBACK progress) {
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  return Guarded([&] {
    FSRequestDescriptor d = DescribeWithSid(command, false);
    d.userData = userData;
    d.progressCallback = progress;
    fill(d);
    return requests_.RunSync(std::move(d), cancelFlag, read);
  });
}

template <typename Fill>
VESK_HTTP_REQUEST FileStation::Async(int command, void* userData, VESK_HTTP_NOTIFY_CALLBACK notify,
                                     Fill&& fill) {
  if (!LoggedIn()) return nullptr;
  return GuardedAsync([&]() -> VESK_HTTP_REQUEST {
    FSRequestDescriptor d = DescribeWithSid(command, true);
    d.userData = userData;
    d.notifyCallback = notify;
    fill(d);
    return requests_.RunAsync(std::move(d));
  });
}

void FileStation::FillShareRoots(FSRequestDescriptor& d) const {
  d.stringParams[L"sharefolderpath"] = L"share_root";
  d.stringParams[L"computername"] = computerName_;
}

void FileStation::FillSearch(FSRequestDescriptor& d, const wchar_t* folderPath,
                             const wchar_t* keyword, int limit) const {
  d.stringParams[L"folderpath"] = Text(folderPath);
  d.stringParams[L"keyword"] = Text(keyword);
  d.stringParams[L"pathName"] = L"*";
  d.stringParams[L"SortDir"] = L"ASC";
  d.stringParams[L"SortField"] = L"filename";
  d.stringParams[L"computername"] = computerName_;
  d.intParams[L"startIndex"] = 0;
  d.intParams[L"limit"] = limit;
  d.intParams[L"PathInfoFlags"] = -1;
}

void FileStation::FillCreateFolder(FSRequestDescriptor& d, std::wstring parent,
                                   const wchar_t* name) const {
  d.stringParams[L"parentfolderpath"] = std::move(parent);
  d.stringParams[L"createfoldername"] = Text(name);
  d.stringParams[L"computername"] = computerName_;
}

VESK_HTTP_RESULT FileStation::GetShareFolderList(int* cancelFlag,
                                                 std::vector<CVeskHttpFileEntry>* list) {
  return Sync(
      FS_CMD_GET_TREE, cancelFlag, [&](FSRequestDescriptor& d) { FillShareRoots(d); },
      [&](FSRequest& r) { AppendTo(list, r.Out().fileEntries); });
}

VESK_HTTP_RESULT FileStation::GetFileListCount(const wchar_t* folderPath, int* cancelFlag,
                                               int* count) {
  return Sync(
      FS_CMD_GET_LIST_COUNT, cancelFlag,
      [&](FSRequestDescriptor& d) { FillList(d, folderPath, 0, 1); },
      [&](FSRequest& r) {
        if (count) *count = r.Out().totalCount;
      });
}

VESK_HTTP_RESULT FileStation::GetFileList(const wchar_t* folderPath, int startIndex, int limit,
                                          int* cancelFlag, std::vector<CVeskHttpFileEntry>* list) {
  return Sync(
      FS_CMD_GET_LIST, cancelFlag,
      [&](FSRequestDescriptor& d) { FillList(d, folderPath, startIndex, limit); },
      [&](FSRequest& r) { AppendTo(list, r.Out().fileEntries); });
}

VESK_HTTP_RESULT FileStation::GetFileStatusList(const wchar_t* folderPath, int startIndex,
                                                int limit, int* cancelFlag, int* totalCount,
                                                std::vector<CVeskHttpFileStatus>* list) {
  return Sync(
      FS_CMD_GET_STATUS_LIST, cancelFlag,
      [&](FSRequestDescriptor& d) { FillList(d, folderPath, startIndex, limit); },
      [&](FSRequest& r) {
        if (totalCount) *totalCount = r.Out().totalCount;
        AppendTo(list, r.Out().fileStatuses);
      });
}

VESK_HTTP_REQUEST FileStation::GetShareFolderListAsync(void* userData,
                                                       VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_GET_TREE, userData, notify,
               [&](FSRequestDescriptor& d) { FillShareRoots(d); });
}

VESK_HTTP_REQUEST FileStation::GetFileListCountAsync(const wchar_t* folderPath, void* userData,
                                                     VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_GET_LIST_COUNT, userData, notify,
               [&](FSRequestDescriptor& d) { FillList(d, folderPath, 0, 1); });
}

VESK_HTTP_REQUEST FileStation::GetFileListAsync(const wchar_t* folderPath, int startIndex,
                                                int limit, void* userData,
                                                VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_GET_LIST, userData, notify,
               [&](FSRequestDescriptor& d) { FillList(d, folderPath, startIndex, limit); });
}

VESK_HTTP_REQUEST FileStation::GetFileStatusListAsync(const wchar_t* folderPath, int startIndex,
                                                      int limit, void* userData,
                                                      VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_GET_STATUS_LIST, userData, notify,
               [&](FSRequestDescriptor& d) { FillList(d, folderPath, startIndex, limit); });
}

// ---- file status and search ----

VESK_HTTP_RESULT FileStation::GetFileStatus(const wchar_t* path, int* cancelFlag,
                                            CVeskHttpFileStatus* status) {
  return Sync(
      FS_CMD_STAT, cancelFlag, [&](FSRequestDescriptor& d) { FillStat(d, path); },
      [&](FSRequest& r) {
        if (status) *status = r.GetFileStatusResult();
      });
}

VESK_HTTP_RESULT FileStation::SearchFile(const wchar_t* folderPath, const wchar_t* keyword,
                                         int limit, int* cancelFlag,
                                         std::vector<CVeskHttpFileEntry>* list) {
  return Sync(
      FS_CMD_SEARCH, cancelFlag,
      [&](FSRequestDescriptor& d) { FillSearch(d, folderPath, keyword, limit); },
      [&](FSRequest& r) { AppendTo(list, r.Out().fileEntries); });
}

VESK_HTTP_RESULT FileStation::SearchFileStatus(const wchar_t* folderPath, const wchar_t* keyword,
                                               int limit, int* cancelFlag,
                                               std::vector<CVeskHttpFileStatus>* list) {
  return Sync(
      FS_CMD_SEARCH_STATUS, cancelFlag,
      [&](FSRequestDescriptor& d) { FillSearch(d, folderPath, keyword, limit); },
      [&](FSRequest& r) { AppendTo(list, r.Out().fileStatuses); });
}

VESK_HTTP_REQUEST FileStation::GetFileStatusAsync(const wchar_t* path, void* userData,
                                                  VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_STAT, userData, notify, [&](FSRequestDescriptor& d) { FillStat(d, path); });
}

VESK_HTTP_REQUEST FileStation::SearchFileAsync(const wchar_t* folderPath, const wchar_t* keyword,
                                               int limit, void* userData,
                                               VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_SEARCH, userData, notify,
               [&](FSRequestDescriptor& d) { FillSearch(d, folderPath, keyword, limit); });
}

VESK_HTTP_REQUEST FileStation::SearchFileStatusAsync(const wchar_t* folderPath,
                                                     const wchar_t* keyword, int limit,
                                                     void* userData,
                                                     VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_SEARCH_STATUS, userData, notify,
               [&](FSRequestDescriptor& d) { FillSearch(d, folderPath, keyword, limit); });
}

// ---- changes to the file tree ----

VESK_HTTP_RESULT FileStation::CreateFolder(const wchar_t* parentPath, const wchar_t* name,
                                           int* cancelFlag) {
  return Sync(
      FS_CMD_CREATEDIR, cancelFlag,
      [&](FSRequestDescriptor& d) { FillCreateFolder(d, Text(parentPath), name); }, kNoOutputs);
}

VESK_HTTP_RESULT FileStation::CreateFolder(CVeskHttpFileEntry parent, const wchar_t* name,
                                           int* cancelFlag) {
  return Sync(
      FS_CMD_CREATEDIR, cancelFlag,
      [&](FSRequestDescriptor& d) { FillCreateFolder(d, EntryFolder(parent), name); }, kNoOutputs);
}

VESK_HTTP_RESULT FileStation::DeleteFile(const wchar_t* path, int* cancelFlag) {
  return Sync(
      FS_CMD_DELETE, cancelFlag,
      [&](FSRequestDescriptor& d) {
        auto [folder, name] = SplitDevicePath(Text(path));
        FillDelete(d, std::move(folder), std::move(name));
      },
      kNoOutputs);
}

VESK_HTTP_RESULT FileStation::DeleteFile(CVeskHttpFileEntry item, int* cancelFlag) {
  return Sync(
      FS_CMD_DELETE, cancelFlag,
      [&](FSRequestDescriptor& d) { FillDelete(d, item.GetFilePath(), item.GetFileName()); },
      kNoOutputs);
}

VESK_HTTP_RESULT FileStation::RenameFile(const wchar_t* path, const wchar_t* newName,
                                         int* cancelFlag) {
  return Sync(
      FS_CMD_RENAME, cancelFlag, [&](FSRequestDescriptor& d) { FillRename(d, path, newName); },
      kNoOutputs);
}

VESK_HTTP_RESULT FileStation::SetFileModifyTime(const wchar_t* path, int modifyTime,
                                                int* cancelFlag, CVeskHttpFileStatus* status) {
  return SetFileModifyTime64(path, modifyTime, cancelFlag, status);
}

VESK_HTTP_RESULT FileStation::SetFileModifyTime64(const wchar_t* path, long long modifyTime,
                                                  int* cancelFlag, CVeskHttpFileStatus* status) {
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  if (!DeviceTakesTime(modifyTime)) return VESK_HTTP_INVALID_REQUEST;
  return Sync(
      FS_CMD_SET_TIME, cancelFlag,
      [&](FSRequestDescriptor& d) { FillSetTime(d, path, modifyTime); },
      [&](FSRequest& r) {
        if (status) *status = r.GetFileStatusResult();
      });
}

VESK_HTTP_REQUEST FileStation::CreateFolderAsync(const wchar_t* parentPath, const wchar_t* name,
                                                 void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_CREATEDIR, userData, notify,
               [&](FSRequestDescriptor& d) { FillCreateFolder(d, Text(parentPath), name); });
}

VESK_HTTP_REQUEST FileStation::CreateFolderAsync(CVeskHttpFileEntry parent, const wchar_t* name,
                                                 void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_CREATEDIR, userData, notify,
               [&](FSRequestDescriptor& d) { FillCreateFolder(d, EntryFolder(parent), name); });
}

VESK_HTTP_REQUEST FileStation::DeleteFileAsync(const wchar_t* path, void* userData,
                                               VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_DELETE, userData, notify, [&](FSRequestDescriptor& d) {
    auto [folder, name] = SplitDevicePath(Text(path));
    FillDelete(d, std::move(folder), std::move(name));
  });
}

VESK_HTTP_REQUEST FileStation::DeleteFileAsync(CVeskHttpFileEntry item, void* userData,
                                               VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_DELETE, userData, notify, [&](FSRequestDescriptor& d) {
    FillDelete(d, item.GetFilePath(), item.GetFileName());
  });
}

VESK_HTTP_REQUEST FileStation::RenameFileAsync(const wchar_t* path, const wchar_t* newName,
                                               void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_RENAME, userData, notify,
               [&](FSRequestDescriptor& d) { FillRename(d, path, newName); });
}

VESK_HTTP_REQUEST FileStation::SetFileModifyTimeAsync(const wchar_t* path, int modifyTime,
                                                      void* userData,
                                                      VESK_HTTP_NOTIFY_CALLBACK notify) {
  return SetFileModifyTime64Async(path, modifyTime, userData, notify);
}

VESK_HTTP_REQUEST FileStation::SetFileModifyTime64Async(const wchar_t* path, long long modifyTime,
                                                        void* userData,
                                                        VESK_HTTP_NOTIFY_CALLBACK notify) {
  if (!DeviceTakesTime(modifyTime)) return nullptr;
  return Async(FS_CMD_SET_TIME, userData, notify,
               [&](FSRequestDescriptor& d) { FillSetTime(d, path, modifyTime); });
}

// ---- copy and move ----

VESK_HTTP_RESULT FileStation::CopyFile(const wchar_t* sourcePath, const wchar_t* destFolder,
                                       int mode, int* cancelFlag, void* userData,
                                       VESK_HTTP_PROGRESS_CALLBACK progress) {
  return CopyOrMove(FS_CMD_COPY, SplitDevicePath(Text(sourcePath)), destFolder, mode, cancelFlag,
                    userData, progress);
}

VESK_HTTP_RESULT FileStation::CopyFile(CVeskHttpFileEntry source, const wchar_t* destFolder,
                                       int mode, int* cancelFlag, void* userData,
                                       VESK_HTTP_PROGRESS_CALLBACK progress) {
  return CopyOrMove(FS_CMD_COPY, {source.GetFilePath(), source.GetFileName()}, destFolder, mode,
                    cancelFlag, userData, progress);
}

VESK_HTTP_RESULT FileStation::MoveFile(const wchar_t* sourcePath, const wchar_t* destFolder,
                                       int mode, int* cancelFlag, void* userData,
                                       VESK_HTTP_PROGRESS_CALLBACK progress) {
  return CopyOrMove(FS_CMD_MOVE, SplitDevicePath(Text(sourcePath)), destFolder, mode, cancelFlag,
                    userData, progress);
}

VESK_HTTP_RESULT FileStation::MoveFile(CVeskHttpFileEntry source, const wchar_t* destFolder,
                                       int mode, int* cancelFlag, void* userData,
                                       VESK_HTTP_PROGRESS_CALLBACK progress) {
  return CopyOrMove(FS_CMD_MOVE, {source.GetFilePath(), source.GetFileName()}, destFolder, mode,
                    cancelFlag, userData, progress);
}

VESK_HTTP_RESULT FileStation::CopyOrMove(int command, std::pair<std::wstring, std::wstring> source,
                                         const wchar_t* destFolder, int mode, int* cancelFlag,
                                         void* userData, VESK_HTTP_PROGRESS_CALLBACK progress) {
  return Sync(
      command, cancelFlag,
      [&](FSRequestDescriptor& d) {
        FillCopyMove(d, std::move(source.first), std::move(source.second), destFolder, mode);
      },
      kNoOutputs, userData, progress);
}

VESK_HTTP_REQUEST FileStation::CopyOrMoveAsync(int command,
                                               std::pair<std::wstring, std::wstring> source,
                                               const wchar_t* destFolder, int mode, void* userData,
                                               VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(command, userData, notify, [&](FSRequestDescriptor& d) {
    FillCopyMove(d, std::move(source.first), std::move(source.second), destFolder, mode);
  });
}

VESK_HTTP_REQUEST FileStation::CopyFileAsync(const wchar_t* sourcePath, const wchar_t* destFolder,
                                             int mode, void* userData,
                                             VESK_HTTP_NOTIFY_CALLBACK notify) {
  return CopyOrMoveAsync(FS_CMD_COPY, SplitDevicePath(Text(sourcePath)), destFolder, mode, userData,
                         notify);
}

VESK_HTTP_REQUEST FileStation::CopyFileAsync(CVeskHttpFileEntry source, const wchar_t* destFolder,
                                             int mode, void* userData,
                                             VESK_HTTP_NOTIFY_CALLBACK notify) {
  return CopyOrMoveAsync(FS_CMD_COPY, {source.GetFilePath(), source.GetFileName()}, destFolder,
                         mode, userData, notify);
}

VESK_HTTP_REQUEST FileStation::MoveFileAsync(const wchar_t* sourcePath, const wchar_t* destFolder,
                                             int mode, void* userData,
                                             VESK_HTTP_NOTIFY_CALLBACK notify) {
  return CopyOrMoveAsync(FS_CMD_MOVE, SplitDevicePath(Text(sourcePath)), destFolder, mode, userData,
                         notify);
}

VESK_HTTP_REQUEST FileStation::MoveFileAsync(CVeskHttpFileEntry source, const wchar_t* destFolder,
                                             int mode, void* userData,
                                             VESK_HTTP_NOTIFY_CALLBACK notify) {
  return CopyOrMoveAsync(FS_CMD_MOVE, {source.GetFilePath(), source.GetFileName()}, destFolder,
                         mode, userData, notify);
}

// ---- transfers ----

namespace {

// The name part of a local path: what follows its last "/" or "\\", or the whole path.
std::wstring LocalFileName(const std::wstring& path) {
  const auto at = path.find_last_of(L"/\\");
  return at == std::wstring::npos ? path : path.substr(at + 1);
}

void FillUpload(FSRequestDescriptor& d, const wchar_t* localPath, const wchar_t* deviceFolder) {
  d.stringParams[L"uploadfilepath"] = Text(localPath);
  d.stringParams[L"destpath"] = Text(deviceFolder);
  d.stringParams[L"destfilename"] = LocalFileName(Text(localPath));
  d.intParams[L"overwrite"] = 1;
}

// A download names a folder and a file in it, and starts at no negative offset.
bool DownloadIsValid(const std::pair<std::wstring, std::wstring>& source, long long offset) {
  return !source.first.empty() && !source.second.empty() && offset >= 0;
}

void FillDownload(FSRequestDescriptor& d, std::pair<std::wstring, std::wstring> source,
                  const wchar_t* localPath, long long offset) {
  d.stringParams[L"downloadfilepath"] = std::move(source.first);
  d.stringParams[L"downloadfilename"] = std::move(source.second);
  d.stringParams[L"destfilepathplusname"] = Text(localPath);
  d.intParams[L"downloadOffset"] = offset;
}

void FillUploadRoot(FSRequestDescriptor& d, const wchar_t* tempFolder) {
  d.stringParams[L"UploadTempPath"] = Text(tempFolder);
}

void FillChunkDelete(FSRequestDescriptor& d, const wchar_t* uploadId, const wchar_t* tempFolder) {
  FillUploadRoot(d, tempFolder);
  d.stringParams[L"UploadID"] = Text(uploadId);
}

void FillChunkedUpload(FSRequestDescriptor& d, const wchar_t* localPath,
                       const wchar_t* deviceFolder, const wchar_t* newName, const wchar_t* uploadId,
                       const wchar_t* tempFolder) {
  FillChunkDelete(d, uploadId, tempFolder);
  d.stringParams[L"UploadFilePath"] = Text(localPath);
  d.stringParams[L"UploadDestFilePath"] = Text(deviceFolder);
  d.stringParams[L"UploadDestFileName"] = LocalFileName(Text(localPath));
  d.stringParams[L"RenameDestFileName"] = Text(newName);
  d.intParams[L"overwrite"] = 1;
}

std::pair<std::wstring, std::wstring> EntrySource(const CVeskHttpFileEntry& entry) {
  return {entry.GetFilePath(), entry.GetFileName()};
}

// A ranged read: a device file, where to start and how much to read (negative: to the end).
// Its routine checks them, so that both forms refuse alike.
void FillReadRange(FSRequestDescriptor& d, const wchar_t* devicePath, long long offset,
                   long long length, VESK_HTTP_DATA_SINK sink) {
  auto [folder, name] = SplitDevicePath(Text(devicePath));
  d.stringParams[L"downloadfilepath"] = std::move(folder);
  d.stringParams[L"downloadfilename"] = std::move(name);
  d.intParams[L"downloadOffset"] = offset;
  d.intParams[L"length"] = length;
  d.dataSink = sink;
}

// An upload from the caller's reader: the upload of a local file, with the reader and the size
// in the file's place. Its routine checks them.
void FillUploadFromReader(FSRequestDescriptor& d, const wchar_t* deviceFolder,
                          const wchar_t* fileName, long long size, VESK_HTTP_DATA_SOURCE reader) {
  d.stringParams[L"destpath"] = Text(deviceFolder);
  d.stringParams[L"destfilename"] = Text(fileName);
  d.intParams[L"overwrite"] = 1;
  d.intParams[L"fromReader"] = 1;
  d.intParams[L"fileSize"] = size;
  d.dataSource = reader;
}

// A chunked upload's attempt from the caller's reader, which names the file's time; the
// device gives the file the name it is sent under.
void FillChunkedUploadFromReader(FSRequestDescriptor& d, const wchar_t* deviceFolder,
                                 const wchar_t* fileName, const wchar_t* uploadId,
                                 const wchar_t* tempFolder, long long size, long long modifyTime,
                                 VESK_HTTP_DATA_SOURCE reader) {
  FillChunkDelete(d, uploadId, tempFolder);
  d.stringParams[L"UploadDestFilePath"] = Text(deviceFolder);
  d.stringParams[L"UploadDestFileName"] = Text(fileName);
  d.intParams[L"overwrite"] = 1;
  d.intParams[L"fromReader"] = 1;
  d.intParams[L"fileSize"] = size;
  d.intParams[L"modifyTime"] = modifyTime;
  d.dataSource = reader;
}

}  // namespace

VESK_HTTP_RESULT FileStation::UploadFile(const wchar_t* localPath, const wchar_t* deviceFolder,
                                         int* cancelFlag, void* userData,
                                         VESK_HTTP_PROGRESS_CALLBACK progress) {
  return Sync(
      FS_CMD_UPLOAD, cancelFlag,
      [&](FSRequestDescriptor& d) { FillUpload(d, localPath, deviceFolder); }, kNoOutputs, userData,
      progress);
}

VESK_HTTP_REQUEST FileStation::UploadFileAsync(const wchar_t* localPath,
                                               const wchar_t* deviceFolder, void* userData,
                                               VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_UPLOAD, userData, notify,
               [&](FSRequestDescriptor& d) { FillUpload(d, localPath, deviceFolder); });
}

VESK_HTTP_RESULT FileStation::Download(std::pair<std::wstring, std::wstring> source,
                                       const wchar_t* localPath, long long offset, int* cancelFlag,
                                       void* userData, VESK_HTTP_PROGRESS_CALLBACK progress) {
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  if (!DownloadIsValid(source, offset)) return VESK_HTTP_INVALID_REQUEST;
  return Sync(
      FS_CMD_DOWNLOAD, cancelFlag,
      [&](FSRequestDescriptor& d) { FillDownload(d, std::move(source), localPath, offset); },
      kNoOutputs, userData, progress);
}

VESK_HTTP_REQUEST FileStation::DownloadAsync(std::pair<std::wstring, std::wstring> source,
                                             const wchar_t* localPath, long long offset,
                                             void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) {
  if (!DownloadIsValid(source, offset)) return nullptr;
  return Async(FS_CMD_DOWNLOAD, userData, notify, [&](FSRequestDescriptor& d) {
    FillDownload(d, std::move(source), localPath, offset);
  });
}

VESK_HTTP_RESULT FileStation::DownloadFile(CVeskHttpFileEntry entry, const wchar_t* localPath,
                                           long long offset, int* cancelFlag, void* userData,
                                           VESK_HTTP_PROGRESS_CALLBACK progress) {
  return Download(EntrySource(entry), localPath, offset, cancelFlag, userData, progress);
}

VESK_HTTP_RESULT FileStation::DownloadFile(const wchar_t* devicePath, const wchar_t* localPath,
                                           long long offset, int* cancelFlag, void* userData,
                                           VESK_HTTP_PROGRESS_CALLBACK progress) {
  return Download(SplitDevicePath(Text(devicePath)), localPath, offset, cancelFlag, userData,
                  progress);
}

VESK_HTTP_REQUEST FileStation::DownloadFileAsync(const wchar_t* devicePath,
                                                 const wchar_t* localPath, long long offset,
                                                 void* userData, VESK_HTTP_NOTIFY_CALLBACK notify) {
  return DownloadAsync(SplitDevicePath(Text(devicePath)), localPath, offset, userData, notify);
}

VESK_HTTP_REQUEST FileStation::DownloadFileAsync(CVeskHttpFileEntry entry, const wchar_t* localPath,
                                                 long long offset, void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) {
  return DownloadAsync(EntrySource(entry), localPath, offset, userData, notify);
}

VESK_HTTP_RESULT FileStation::StartChunkedUpload(const wchar_t* tempFolder, int* cancelFlag,
                                                 std::wstring* uploadId) {
  return Sync(
      FS_CMD_START_CHUNKED_UPLOAD, cancelFlag,
      [&](FSRequestDescriptor& d) { FillUploadRoot(d, tempFolder); },
      [&](FSRequest& r) {
        if (uploadId) *uploadId = r.Out().resultString;
      });
}

VESK_HTTP_REQUEST FileStation::StartChunkedUploadAsync(const wchar_t* tempFolder, void* userData,
                                                       VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_START_CHUNKED_UPLOAD, userData, notify,
               [&](FSRequestDescriptor& d) { FillUploadRoot(d, tempFolder); });
}

VESK_HTTP_RESULT FileStation::ChunkedUploadFile(const wchar_t* localPath,
                                                const wchar_t* deviceFolder, const wchar_t* newName,
                                                const wchar_t* uploadId, const wchar_t* tempFolder,
                                                int* cancelFlag, void* userData,
                                                VESK_HTTP_PROGRESS_CALLBACK progress) {
  return Sync(
      FS_CMD_CHUNKED_UPLOAD, cancelFlag,
      [&](FSRequestDescriptor& d) {
        FillChunkedUpload(d, localPath, deviceFolder, newName, uploadId, tempFolder);
      },
      kNoOutputs, userData, progress);
}

VESK_HTTP_REQUEST FileStation::ChunkedUploadFileAsync(const wchar_t* localPath,
                                                      const wchar_t* deviceFolder,
                                                      const wchar_t* newName,
                                                      const wchar_t* uploadId,
                                                      const wchar_t* tempFolder, void* userData,
                                                      VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_CHUNKED_UPLOAD, userData, notify, [&](FSRequestDescriptor& d) {
    FillChunkedUpload(d, localPath, deviceFolder, newName, uploadId, tempFolder);
  });
}

VESK_HTTP_RESULT FileStation::DeleteChunkedUploadFile(const wchar_t* uploadId,
                                                      const wchar_t* tempFolder, int* cancelFlag) {
  return Sync(
      FS_CMD_DELETE_CHUNKED_UPLOAD, cancelFlag,
      [&](FSRequestDescriptor& d) { FillChunkDelete(d, uploadId, tempFolder); }, kNoOutputs);
}

VESK_HTTP_REQUEST FileStation::DeleteChunkedUploadFileAsync(const wchar_t* uploadId,
                                                            const wchar_t* tempFolder,
                                                            void* userData,
                                                            VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_DELETE_CHUNKED_UPLOAD, userData, notify,
               [&](FSRequestDescriptor& d) { FillChunkDelete(d, uploadId, tempFolder); });
}

// ---- share links ----

void FileStation::FillShareLink(FSRequestDescriptor& d, const CVeskHttpShareLinkInfo& info) const {
  const std::wstring path = info.GetShareFilePath();
  const std::wstring dateTime = info.GetDateTime();
  d.stringParams[L"datetime"] = dateTime;
  d.stringParams[L"passwrod"] = info.GetPassword();
  d.stringParams[L"hostname"] = connection_.host;
  d.stringParams[L"filepath"] = SplitDevicePath(path).first;
  d.stringParams[L"filename"] = path;
  d.intParams[L"downloadtype"] = 2;
  d.intParams[L"validdurationtype"] = dateTime == L"0" ? 1 : 2;
  d.intParams[L"networktype"] = 1;
  d.intParams[L"useSSL"] = info.IsSecureMode();
}

namespace {

void FillShareList(FSRequestDescriptor& d, int limit) {
  d.stringParams[L"SortDir"] = L"ASC";
  d.stringParams[L"SortField"] = L"filename";
  d.intParams[L"startIndex"] = 0;
  d.intParams[L"limit"] = limit;
}

void FillShareDelete(FSRequestDescriptor& d, const CVeskHttpShareLink& link) {
  d.stringParams[L"filename"] = link.GetFileName();
  d.stringParams[L"sharelink"] = link.GetURL();
}

}  // namespace

VESK_HTTP_RESULT FileStation::CreateShareLink(CVeskHttpShareLinkInfo info, int* cancelFlag,
                                              CVeskHttpShareLink* link) {
  return Sync(
      FS_CMD_SHARE_LINK, cancelFlag, [&](FSRequestDescriptor& d) { FillShareLink(d, info); },
      [&](FSRequest& r) {
        if (link) *link = r.Out().shareLink;
      });
}

VESK_HTTP_RESULT FileStation::GetShareLinkList(int limit, int* cancelFlag,
                                               std::vector<CVeskHttpShareLink>* list) {
  return Sync(
      FS_CMD_GET_SHARE_LIST, cancelFlag, [&](FSRequestDescriptor& d) { FillShareList(d, limit); },
      [&](FSRequest& r) { AppendTo(list, r.Out().shareLinks); });
}

VESK_HTTP_RESULT FileStation::DeleteShareLink(CVeskHttpShareLink link, int* cancelFlag) {
  return Sync(
      FS_CMD_DELETE_SHARE, cancelFlag, [&](FSRequestDescriptor& d) { FillShareDelete(d, link); },
      kNoOutputs);
}

VESK_HTTP_REQUEST FileStation::CreateShareLinkAsync(CVeskHttpShareLinkInfo info, void* userData,
                                                    VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_SHARE_LINK, userData, notify,
               [&](FSRequestDescriptor& d) { FillShareLink(d, info); });
}

VESK_HTTP_REQUEST FileStation::GetShareLinkListAsync(int limit, void* userData,
                                                     VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_GET_SHARE_LIST, userData, notify,
               [&](FSRequestDescriptor& d) { FillShareList(d, limit); });
}

VESK_HTTP_REQUEST FileStation::DeleteShareLinkAsync(CVeskHttpShareLink link, void* userData,
                                                    VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_DELETE_SHARE, userData, notify,
               [&](FSRequestDescriptor& d) { FillShareDelete(d, link); });
}

// ---- archives ----

namespace {

// The word a table gives an argument, or nothing for a value outside the table: the key is
// then left out and its field sent empty.
template <std::size_t N>
void PutWord(FSRequestDescriptor& d, const wchar_t* key, int value,
             const std::array<const wchar_t*, N>& words) {
  if (value >= 0 && value < static_cast<int>(N)) d.stringParams[key] = words[value];
}

// A list of names holds no null pointer.
bool NamesValid(const std::vector<const wchar_t*>& names) {
  return std::find(names.begin(), names.end(), nullptr) == names.end();
}

// A list of names as form fields, "<field>=<name>&" for each, every name percent-encoded on
// its own so that "&", "=" or "%" in a name stay inside its field.
std::wstring NameList(const std::vector<const wchar_t*>& names, const wchar_t* field) {
  std::wstring out;
  for (const wchar_t* name : names) {
    std::wstring encoded = name;
    UrlEncode(encoded);
    out.append(field).append(L"=").append(encoded).append(L"&");
  }
  return out;
}

// An archive path as the device takes it: its folder and its name joined by "/", whichever
// separator it had (a path without one becomes the path twice).
std::wstring ArchivePath(const wchar_t* archivePath) {
  auto [folder, name] = SplitDevicePath(Text(archivePath));
  return folder + L"/" + name;
}

struct CompressArgs {
  const wchar_t* archiveName;
  const wchar_t* folderPath;
  int fileCount;
  const std::vector<const wchar_t*>& names;
  int format;
  const wchar_t* password;
  int level;
  int encryption;
  int updateMode;
};

void FillCompress(FSRequestDescriptor& d, const CompressArgs& a) {
  d.stringParams[L"compressName"] = Text(a.archiveName);
  PutWord(d, L"compressFormat", a.format, std::array{L"zip", L"7z"});
  d.stringParams[L"password"] = Text(a.password);
  PutWord(d, L"compressLevel", a.level, std::array{L"normal", L"large", L"fast"});
  PutWord(d, L"compressEncrypt", a.encryption, std::array{L"AES256", L"ZipCrypto"});
  PutWord(d, L"compressUpdateMode", a.updateMode, std::array{L"1", L"2", L"3", L"4"});
  d.stringParams[L"compressFilePath"] = Text(a.folderPath);
  d.stringParams[L"compressFileNameList"] = NameList(a.names, L"compress_file");
  d.intParams[L"totalFileNum"] = a.fileCount;
}

void FillExtractList(FSRequestDescriptor& d, const wchar_t* archivePath, int startIndex,
                     int limit) {
  d.stringParams[L"ExtractedFile"] = ArchivePath(archivePath);
  d.stringParams[L"Sort"] = L"filename";
  d.stringParams[L"SortDir"] = L"ASC";
  d.intParams[L"startIndex"] = startIndex;
  d.intParams[L"limit"] = limit;
}

struct ExtractArgs {
  const wchar_t* archivePath;
  const wchar_t* destFolder;
  const wchar_t* password;
  int mode;
  int fileCount;
  const std::vector<const wchar_t*>& names;
  int overwrite;
  int pathMode;
};

void FillExtract(FSRequestDescriptor& d, const ExtractArgs& a) {
  d.stringParams[L"ExtractedFile"] = ArchivePath(a.archivePath);
  d.stringParams[L"destPath"] = Text(a.destFolder);
  if (a.mode == 0) {
    d.stringParams[L"extractMode"] = L"extract_all";
    d.intParams[L"partTotalFileNum"] = 0;
  } else if (a.mode == 1) {
    d.stringParams[L"extractMode"] = L"extract_part";
    d.intParams[L"partTotalFileNum"] = a.fileCount;
    d.stringParams[L"extractFileNameList"] = NameList(a.names, L"part_file");
  }
  d.stringParams[L"password"] = Text(a.password);
  // Any non-zero argument asks the device to replace existing files.
  d.intParams[L"overWrite"] = a.overwrite != 0 ? 1 : 0;
  PutWord(d, L"extractPathMode", a.pathMode, std::array{L"none", L"full"});
}

}  // namespace

VESK_HTTP_RESULT FileStation::CompressFile(const wchar_t* archiveName, const wchar_t* folderPath,
                                           int fileCount, const std::vector<const wchar_t*>& names,
                                           int format, const wchar_t* password, int level,
                                           int encryption, int updateMode, int* cancelFlag,
                                           void* userData, VESK_HTTP_PROGRESS_CALLBACK progress) {
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  if (!NamesValid(names)) return VESK_HTTP_INVALID_REQUEST;
  const CompressArgs args{archiveName, folderPath, fileCount,  names,     format,
                          password,    level,      encryption, updateMode};
  return Sync(
      FS_CMD_COMPRESS, cancelFlag, [&](FSRequestDescriptor& d) { FillCompress(d, args); },
      kNoOutputs, userData, progress);
}

VESK_HTTP_REQUEST FileStation::CompressFileAsync(const wchar_t* archiveName,
                                                 const wchar_t* folderPath, int fileCount,
                                                 const std::vector<const wchar_t*>& names,
                                                 int format, const wchar_t* password, int level,
                                                 int encryption, int updateMode, void* userData,
                                                 VESK_HTTP_NOTIFY_CALLBACK notify) {
  if (!NamesValid(names)) return nullptr;
  const CompressArgs args{archiveName, folderPath, fileCount,  names,     format,
                          password,    level,      encryption, updateMode};
  return Async(FS_CMD_COMPRESS, userData, notify,
               [&](FSRequestDescriptor& d) { FillCompress(d, args); });
}

VESK_HTTP_RESULT FileStation::GetExtractList(const wchar_t* archivePath, int startIndex, int limit,
                                             int* cancelFlag,
                                             std::vector<CVeskHttpExtractEntry>* list) {
  return Sync(
      FS_CMD_GET_EXTRACT_LIST, cancelFlag,
      [&](FSRequestDescriptor& d) { FillExtractList(d, archivePath, startIndex, limit); },
      [&](FSRequest& r) { AppendTo(list, r.Out().extractEntries); });
}

VESK_HTTP_REQUEST FileStation::GetExtractListAsync(const wchar_t* archivePath, int startIndex,
                                                   int limit, void* userData,
                                                   VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_GET_EXTRACT_LIST, userData, notify,
               [&](FSRequestDescriptor& d) { FillExtractList(d, archivePath, startIndex, limit); });
}

VESK_HTTP_RESULT FileStation::ExtractFile(const wchar_t* archivePath, const wchar_t* destFolder,
                                          const wchar_t* password, int mode, int fileCount,
                                          const std::vector<const wchar_t*>& names, int overwrite,
                                          int pathMode, int* cancelFlag, void* userData,
                                          VESK_HTTP_PROGRESS_CALLBACK progress) {
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  if (mode == 1 && !NamesValid(names)) return VESK_HTTP_INVALID_REQUEST;
  const ExtractArgs args{archivePath, destFolder, password,  mode,
                         fileCount,   names,      overwrite, pathMode};
  return Sync(
      FS_CMD_EXTRACT, cancelFlag, [&](FSRequestDescriptor& d) { FillExtract(d, args); }, kNoOutputs,
      userData, progress);
}

VESK_HTTP_REQUEST FileStation::ExtractFileAsync(const wchar_t* archivePath,
                                                const wchar_t* destFolder, const wchar_t* password,
                                                int mode, int fileCount,
                                                const std::vector<const wchar_t*>& names,
                                                int overwrite, int pathMode, void* userData,
                                                VESK_HTTP_NOTIFY_CALLBACK notify) {
  if (mode == 1 && !NamesValid(names)) return nullptr;
  const ExtractArgs args{archivePath, destFolder, password,  mode,
                         fileCount,   names,      overwrite, pathMode};
  return Async(FS_CMD_EXTRACT, userData, notify,
               [&](FSRequestDescriptor& d) { FillExtract(d, args); });
}

// ---- addresses, video transcoding, viewer and thumbnail links ----

namespace {

void FillVideo(FSRequestDescriptor& d, const wchar_t* path, const wchar_t* folderKey,
               const wchar_t* nameKey) {
  auto [folder, name] = SplitDevicePath(Text(path));
  d.stringParams[folderKey] = std::move(folder);
  d.stringParams[nameKey] = std::move(name);
}

void FillAddVideo(FSRequestDescriptor& d, const wchar_t* path) {
  FillVideo(d, path, L"VideoTranscodeFilePath", L"VideoTranscodeFileName");
}

void FillDeleteVideo(FSRequestDescriptor& d, const wchar_t* path) {
  FillVideo(d, path, L"DeleteVideoTranscodeFilePath", L"DeleteVideoTranscodeFileName");
}

}  // namespace

VESK_HTTP_RESULT FileStation::GetDomainIPList(int* cancelFlag, CVeskHttpNASInfo* info) {
  return Sync(
      FS_CMD_GET_DOMAIN_IP_LIST, cancelFlag, [](FSRequestDescriptor&) {},
      [&](FSRequest& r) {
        if (info) *info = r.Out().nasInfo;
      });
}

VESK_HTTP_REQUEST FileStation::GetDomainIPListAsync(void* userData,
                                                    VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_GET_DOMAIN_IP_LIST, userData, notify, [](FSRequestDescriptor&) {});
}

VESK_HTTP_RESULT FileStation::AddVideoTranscode(const wchar_t* path, int* cancelFlag) {
  return Sync(
      FS_CMD_VIDEO_QUEUE, cancelFlag, [&](FSRequestDescriptor& d) { FillAddVideo(d, path); },
      kNoOutputs);
}

VESK_HTTP_REQUEST FileStation::AddVideoTranscodeAsync(const wchar_t* path, void* userData,
                                                      VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_VIDEO_QUEUE, userData, notify,
               [&](FSRequestDescriptor& d) { FillAddVideo(d, path); });
}

VESK_HTTP_RESULT FileStation::DeleteVideoTranscode(const wchar_t* path, int* cancelFlag) {
  return Sync(
      FS_CMD_DELETE_TRANSCODE, cancelFlag,
      [&](FSRequestDescriptor& d) { FillDeleteVideo(d, path); }, kNoOutputs);
}

VESK_HTTP_REQUEST FileStation::DeleteVideoTranscodeAsync(const wchar_t* path, void* userData,
                                                         VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_DELETE_TRANSCODE, userData, notify,
               [&](FSRequestDescriptor& d) { FillDeleteVideo(d, path); });
}

VESK_HTTP_RESULT FileStation::BuildFileURL(const wchar_t* filePath, bool viewer,
                                           std::wstring* url) const {
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  if (!url) return VESK_HTTP_INVALID_REQUEST;
  try {
    // Every value is percent-encoded, so that a name with "&", "#" or "?" opens the file it
    // names; the name after "utilRequest.cgi/" is what a browser offers to save the file as.
    auto [folder, name] = SplitDevicePath(Text(filePath));
    std::wstring sid = sid_;
    UrlEncode(folder);
    UrlEncode(name);
    UrlEncode(sid);
    const int ssl = connection_.ssl == 1;
    std::wstring link = (ssl ? L"https://" : L"http://") + connection_.host + L":" +
                        std::to_wstring(ssl ? sslPort_ : port_) +
                        L"/cgi-bin/filemanager/utilRequest.cgi";
    if (viewer)
      link += L"/" + name + L"?func=get_viewer&sid=" + sid + L"&source_path=" + folder +
              L"&source_file=" + name;
    else
      link += L"?func=get_thumb&sid=" + sid + L"&path=" + folder + L"&name=" + name + L"&size=80";
    *url = std::move(link);
    return VESK_HTTP_SUCCESS;
  } catch (...) {
    return VESK_HTTP_INVALID_REQUEST;
  }
}

VESK_HTTP_RESULT FileStation::GetViewerURL(const wchar_t* filePath, std::wstring* url) {
  return BuildFileURL(filePath, true, url);
}

VESK_HTTP_RESULT FileStation::GetThumbnailURL(const wchar_t* filePath, std::wstring* url) {
  return BuildFileURL(filePath, false, url);
}

// ---- ranged reads (since 1.1) ----

VESK_HTTP_RESULT FileStation::ReadFileRange(const wchar_t* devicePath, long long offset,
                                            long long length, int* cancelFlag, void* userData,
                                            VESK_HTTP_DATA_SINK sink,
                                            VESK_HTTP_PROGRESS_CALLBACK progress,
                                            long long* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  return Guarded([&] {
    FSRequestDescriptor d = DescribeWithSid(FS_CMD_READ_RANGE, false);
    d.userData = userData;
    d.progressCallback = progress;
    FillReadRange(d, devicePath, offset, length, sink);
    // The count is the caller's whatever the result: a read cut short says how far it got.
    return requests_.RunSyncReadingAlways(std::move(d), cancelFlag, [&](FSRequest& r) {
      if (bytesRead) *bytesRead = r.Out().bytesRead;
    });
  });
}

VESK_HTTP_REQUEST FileStation::ReadFileRangeAsync(const wchar_t* devicePath, long long offset,
                                                  long long length, void* userData,
                                                  VESK_HTTP_DATA_SINK sink,
                                                  VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_READ_RANGE, userData, notify,
               [&](FSRequestDescriptor& d) { FillReadRange(d, devicePath, offset, length, sink); });
}

// ---- uploads from the caller's reader (since 1.1) ----

VESK_HTTP_RESULT FileStation::UploadFromReader(const wchar_t* deviceFolder, const wchar_t* fileName,
                                               long long size, int* cancelFlag, void* userData,
                                               VESK_HTTP_DATA_SOURCE reader,
                                               VESK_HTTP_PROGRESS_CALLBACK progress) {
  return Sync(
      FS_CMD_UPLOAD, cancelFlag,
      [&](FSRequestDescriptor& d) {
        FillUploadFromReader(d, deviceFolder, fileName, size, reader);
      },
      kNoOutputs, userData, progress);
}

VESK_HTTP_RESULT FileStation::ChunkedUploadFromReader(
    const wchar_t* deviceFolder, const wchar_t* fileName, const wchar_t* uploadId,
    const wchar_t* tempFolder, long long size, long long modifyTime, int* cancelFlag,
    void* userData, VESK_HTTP_DATA_SOURCE reader, VESK_HTTP_PROGRESS_CALLBACK progress) {
  return Sync(
      FS_CMD_CHUNKED_UPLOAD, cancelFlag,
      [&](FSRequestDescriptor& d) {
        FillChunkedUploadFromReader(d, deviceFolder, fileName, uploadId, tempFolder, size,
                                    modifyTime, reader);
      },
      kNoOutputs, userData, progress);
}

VESK_HTTP_REQUEST FileStation::UploadFromReaderAsync(const wchar_t* deviceFolder,
                                                     const wchar_t* fileName, long long size,
                                                     void* userData, VESK_HTTP_DATA_SOURCE reader,
                                                     VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_UPLOAD, userData, notify, [&](FSRequestDescriptor& d) {
    FillUploadFromReader(d, deviceFolder, fileName, size, reader);
  });
}

VESK_HTTP_REQUEST FileStation::ChunkedUploadFromReaderAsync(
    const wchar_t* deviceFolder, const wchar_t* fileName, const wchar_t* uploadId,
    const wchar_t* tempFolder, long long size, long long modifyTime, void* userData,
    VESK_HTTP_DATA_SOURCE reader, VESK_HTTP_NOTIFY_CALLBACK notify) {
  return Async(FS_CMD_CHUNKED_UPLOAD, userData, notify, [&](FSRequestDescriptor& d) {
    FillChunkedUploadFromReader(d, deviceFolder, fileName, uploadId, tempFolder, size, modifyTime,
                                reader);
  });
}

}  // namespace vesk
