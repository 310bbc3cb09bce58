// The exported value records: plain copies of texts and integers.
#include "VeskHttp.h"

namespace {
// Records never hold a null text; a null argument is taken as the empty text.
std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }
}  // namespace

// The records' copy members are the compiler's; they are defined here, out of line, so that
// callers use the library's code.
#define VESK_RECORD_COPY_MEMBERS(Record)                    \
  Record::Record(const Record& other) = default;            \
  Record& Record::operator=(const Record& other) = default; \
  Record::~Record() = default;

// CVeskHttpServerInfo
CVeskHttpServerInfo::CVeskHttpServerInfo() : secureMode_(0) {}
CVeskHttpServerInfo::CVeskHttpServerInfo(const wchar_t* hostName, const wchar_t* username,
                                         const wchar_t* password, int secureMode,
                                         const wchar_t* computerName)
    : hostName_(Text(hostName)),
      username_(Text(username)),
      password_(Text(password)),
      secureMode_(secureMode),
      computerName_(Text(computerName)) {}
VESK_RECORD_COPY_MEMBERS(CVeskHttpServerInfo)
const wchar_t* CVeskHttpServerInfo::GetHostName() const { return hostName_.c_str(); }
const wchar_t* CVeskHttpServerInfo::GetUsername() const { return username_.c_str(); }
const wchar_t* CVeskHttpServerInfo::GetPassword() const { return password_.c_str(); }
int CVeskHttpServerInfo::IsSecureMode() const { return secureMode_; }
const wchar_t* CVeskHttpServerInfo::GetComputerName() const { return computerName_.c_str(); }

// CVeskHttpFileEntry
CVeskHttpFileEntry::CVeskHttpFileEntry() : isDir_(0), fileSize_(0) {}
CVeskHttpFileEntry::CVeskHttpFileEntry(int isDir, long long fileSize, const wchar_t* filePath,
                                       const wchar_t* fileName)
    : isDir_(isDir), fileSize_(fileSize), filePath_(Text(filePath)), fileName_(Text(fileName)) {}
VESK_RECORD_COPY_MEMBERS(CVeskHttpFileEntry)
int CVeskHttpFileEntry::IsDir() const { return isDir_; }
void CVeskHttpFileEntry::SetDir(int isDir) { isDir_ = isDir; }
long long CVeskHttpFileEntry::GetFileSize() const { return fileSize_; }
void CVeskHttpFileEntry::SetFileSize(long long fileSize) { fileSize_ = fileSize; }
const wchar_t* CVeskHttpFileEntry::GetFilePath() const { return filePath_.c_str(); }
void CVeskHttpFileEntry::SetFilePath(const wchar_t* filePath) { filePath_ = Text(filePath); }
const wchar_t* CVeskHttpFileEntry::GetFileName() const { return fileName_.c_str(); }
void CVeskHttpFileEntry::SetFileName(const wchar_t* fileName) { fileName_ = Text(fileName); }

// CVeskHttpFileStatus
CVeskHttpFileStatus::CVeskHttpFileStatus() : isDir_(0), isCompressed_(0), fileSize_(0) {}
CVeskHttpFileStatus::CVeskHttpFileStatus(int isDir, int isCompressed, long long fileSize,
                                         const wchar_t* folderPermission, const wchar_t* filePath,
                                         const wchar_t* fileName, const wchar_t* group,
                                         const wchar_t* owner, const wchar_t* modifyTime)
    : isDir_(isDir),
      isCompressed_(isCompressed),
      fileSize_(fileSize),
      folderPermission_(Text(folderPermission)),
      filePath_(Text(filePath)),
      fileName_(Text(fileName)),
      group_(Text(group)),
      owner_(Text(owner)),
      modifyTime_(Text(modifyTime)) {}
VESK_RECORD_COPY_MEMBERS(CVeskHttpFileStatus)
int CVeskHttpFileStatus::IsDir() const { return isDir_; }
void CVeskHttpFileStatus::SetDir(int isDir) { isDir_ = isDir; }
int CVeskHttpFileStatus::IsCommpressed() const { return isCompressed_; }
void CVeskHttpFileStatus::SetCompressed(int isCompressed) { isCompressed_ = isCompressed; }
long long CVeskHttpFileStatus::GetFileSize() const { return fileSize_; }
void CVeskHttpFileStatus::SetFileSize(long long fileSize) { fileSize_ = fileSize; }
const wchar_t* CVeskHttpFileStatus::GetFolderPermission() const {
  return folderPermission_.c_str();
}
void CVeskHttpFileStatus::SetFolderPermission(const wchar_t* folderPermission) {
  folderPermission_ = Text(folderPermission);
}
const wchar_t* CVeskHttpFileStatus::GetFilePath() const { return filePath_.c_str(); }
void CVeskHttpFileStatus::SetFilePath(const wchar_t* filePath) { filePath_ = Text(filePath); }
const wchar_t* CVeskHttpFileStatus::GetFileName() const { return fileName_.c_str(); }
void CVeskHttpFileStatus::SetFileName(const wchar_t* fileName) { fileName_ = Text(fileName); }
const wchar_t* CVeskHttpFileStatus::GetGroup() const { return group_.c_str(); }
void CVeskHttpFileStatus::SetGroup(const wchar_t* group) { group_ = Text(group); }
const wchar_t* CVeskHttpFileStatus::GetOwner() const { return owner_.c_str(); }
void CVeskHttpFileStatus::SetOwner(const wchar_t* owner) { owner_ = Text(owner); }
// The status record keeps the size and layout it had in 1.0, which callers built against 1.0
// rely on: its 64-bit time travels in the storage of its time text, after the text's ending zero,
// as decimal digits. GetMT() hands out the text alone, which ends at that zero.
namespace {
std::size_t TimeTextEnd(const std::wstring& stored) {
  const std::size_t end = stored.find(L'\0');
  return end == std::wstring::npos ? stored.size() : end;
}
}  // namespace
const wchar_t* CVeskHttpFileStatus::GetMT() const { return modifyTime_.c_str(); }
void CVeskHttpFileStatus::SetMT(const wchar_t* modifyTime) {
  modifyTime_.replace(0, TimeTextEnd(modifyTime_), Text(modifyTime));
}
long long CVeskHttpFileStatus::GetModifyTime64() const {
  const std::size_t end = TimeTextEnd(modifyTime_);
  if (end == modifyTime_.size()) return 0;
  try {
    return std::stoll(modifyTime_.substr(end + 1));
  } catch (...) {
    return 0;
  }
}
void CVeskHttpFileStatus::SetModifyTime64(long long modifyTime) {
  modifyTime_.resize(TimeTextEnd(modifyTime_));
  if (modifyTime != 0) {
    modifyTime_ += L'\0';
    modifyTime_ += std::to_wstring(modifyTime);
  }
}

// CVeskHttpExtractEntry
CVeskHttpExtractEntry::CVeskHttpExtractEntry() : isDir_(0), fileSize_(0), compressFileSize_(0) {}
CVeskHttpExtractEntry::CVeskHttpExtractEntry(int isDir, long long fileSize,
                                             long long compressFileSize, const wchar_t* modifyTime,
                                             const wchar_t* fileName)
    : isDir_(isDir),
      fileSize_(fileSize),
      compressFileSize_(compressFileSize),
      modifyTime_(Text(modifyTime)),
      fileName_(Text(fileName)) {}
VESK_RECORD_COPY_MEMBERS(CVeskHttpExtractEntry)
int CVeskHttpExtractEntry::IsDir() const { return isDir_; }
void CVeskHttpExtractEntry::SetDir(int isDir) { isDir_ = isDir; }
long long CVeskHttpExtractEntry::GetFileSize() const { return fileSize_; }
void CVeskHttpExtractEntry::SetFileSize(long long fileSize) { fileSize_ = fileSize; }
long long CVeskHttpExtractEntry::GetCompressFileSize() const { return compressFileSize_; }
void CVeskHttpExtractEntry::SetCompressFileSize(long long compressFileSize) {
  compressFileSize_ = compressFileSize;
}
const wchar_t* CVeskHttpExtractEntry::GetModifyTime() const { return modifyTime_.c_str(); }
void CVeskHttpExtractEntry::SetModifyTime(const wchar_t* modifyTime) {
  modifyTime_ = Text(modifyTime);
}
const wchar_t* CVeskHttpExtractEntry::GetFileName() const { return fileName_.c_str(); }
void CVeskHttpExtractEntry::SetFileName(const wchar_t* fileName) { fileName_ = Text(fileName); }

// CVeskHttpShareLink
CVeskHttpShareLink::CVeskHttpShareLink() = default;
VESK_RECORD_COPY_MEMBERS(CVeskHttpShareLink)
const wchar_t* CVeskHttpShareLink::GetFileName() const { return fileName_.c_str(); }
void CVeskHttpShareLink::SetFileName(const wchar_t* fileName) { fileName_ = Text(fileName); }
const wchar_t* CVeskHttpShareLink::GetExpireTime() const { return expireTime_.c_str(); }
void CVeskHttpShareLink::SetExpireTime(const wchar_t* expireTime) {
  expireTime_ = Text(expireTime);
}
const wchar_t* CVeskHttpShareLink::GetURL() const { return url_.c_str(); }
void CVeskHttpShareLink::SetURL(const wchar_t* url) { url_ = Text(url); }

// CVeskHttpShareLinkInfo
CVeskHttpShareLinkInfo::CVeskHttpShareLinkInfo(const wchar_t* shareFilePath,
                                               const wchar_t* password, const wchar_t* dateTime,
                                               int isSecureMode)
    : shareFilePath_(Text(shareFilePath)),
      password_(Text(password)),
      dateTime_(Text(dateTime)),
      isSecureMode_(isSecureMode) {}
VESK_RECORD_COPY_MEMBERS(CVeskHttpShareLinkInfo)
const wchar_t* CVeskHttpShareLinkInfo::GetShareFilePath() const { return shareFilePath_.c_str(); }
void CVeskHttpShareLinkInfo::SetShareFilePath(const wchar_t* shareFilePath) {
  shareFilePath_ = Text(shareFilePath);
}
const wchar_t* CVeskHttpShareLinkInfo::GetPassword() const { return password_.c_str(); }
void CVeskHttpShareLinkInfo::SetPassword(const wchar_t* password) { password_ = Text(password); }
const wchar_t* CVeskHttpShareLinkInfo::GetDateTime() const { return dateTime_.c_str(); }
void CVeskHttpShareLinkInfo::SetDateTime(const wchar_t* dateTime) { dateTime_ = Text(dateTime); }
int CVeskHttpShareLinkInfo::IsSecureMode() const { return isSecureMode_; }
void CVeskHttpShareLinkInfo::SetIsSecureMode(int isSecureMode) { isSecureMode_ = isSecureMode; }

// CVeskHttpNASInfo
CVeskHttpNASInfo::CVeskHttpNASInfo() = default;
CVeskHttpNASInfo::CVeskHttpNASInfo(const wchar_t* farlinkNasName, const wchar_t* nasExternalIP,
                                   const wchar_t* nasLocalIP, const wchar_t* nasHostIP)
    : farlinkNasName_(Text(farlinkNasName)),
      nasExternalIP_(Text(nasExternalIP)),
      nasLocalIP_(Text(nasLocalIP)),
      nasHostIP_(Text(nasHostIP)) {}
VESK_RECORD_COPY_MEMBERS(CVeskHttpNASInfo)
const wchar_t* CVeskHttpNASInfo::GetFarlinkNasName() const { return farlinkNasName_.c_str(); }
void CVeskHttpNASInfo::SetFarlinkNasName(const wchar_t* farlinkNasName) {
  farlinkNasName_ = Text(farlinkNasName);
}
const wchar_t* CVeskHttpNASInfo::GetNasExternalIP() const { return nasExternalIP_.c_str(); }
void CVeskHttpNASInfo::SetNasExternalIP(const wchar_t* nasExternalIP) {
  nasExternalIP_ = Text(nasExternalIP);
}
const wchar_t* CVeskHttpNASInfo::GetNasLocalIP() const { return nasLocalIP_.c_str(); }
void CVeskHttpNASInfo::SetNasLocalIP(const wchar_t* nasLocalIP) { nasLocalIP_ = Text(nasLocalIP); }
const wchar_t* CVeskHttpNASInfo::GetNasHostIP() const { return nasHostIP_.c_str(); }
void CVeskHttpNASInfo::SetNasHostIP(const wchar_t* nasHostIP) { nasHostIP_ = Text(nasHostIP); }

// CVeskHttpSystemSettingInfo
CVeskHttpSystemSettingInfo::CVeskHttpSystemSettingInfo()
    : sysPort_(0), isSSL_(0), sysSSLPort_(0), isSSLForce_(0) {}
CVeskHttpSystemSettingInfo::CVeskHttpSystemSettingInfo(const wchar_t* serverName, int sysPort,
                                                       int isSSL, int sysSSLPort, int isSSLForce)
    : serverName_(Text(serverName)),
      sysPort_(sysPort),
      isSSL_(isSSL),
      sysSSLPort_(sysSSLPort),
      isSSLForce_(isSSLForce) {}
VESK_RECORD_COPY_MEMBERS(CVeskHttpSystemSettingInfo)
const wchar_t* CVeskHttpSystemSettingInfo::GetServerName() const { return serverName_.c_str(); }
void CVeskHttpSystemSettingInfo::SetServerName(const wchar_t* serverName) {
  serverName_ = Text(serverName);
}
int CVeskHttpSystemSettingInfo::GetSYSPort() const { return sysPort_; }
void CVeskHttpSystemSettingInfo::SetSYSPort(int sysPort) { sysPort_ = sysPort; }
int CVeskHttpSystemSettingInfo::IsSSL() const { return isSSL_; }
void CVeskHttpSystemSettingInfo::SetSSL(int isSSL) { isSSL_ = isSSL; }
int CVeskHttpSystemSettingInfo::GetSYSSSLPort() const { return sysSSLPort_; }
void CVeskHttpSystemSettingInfo::SetSYSSSLPort(int sysSSLPort) { sysSSLPort_ = sysSSLPort; }
int CVeskHttpSystemSettingInfo::IsSSLForce() const { return isSSLForce_; }
void CVeskHttpSystemSettingInfo::SetSSLForce(int isSSLForce) { isSSLForce_ = isSSLForce; }

// The exported sequence types.
template class std::vector<CVeskHttpFileEntry>;
template class std::vector<CVeskHttpExtractEntry>;
template class std::vector<CVeskHttpShareLink>;
template class std::vector<CVeskHttpFileStatus>;
