// Bad input at the public interface: null pointers, empty texts, wide characters that are no
// Unicode scalar value, names with every ASCII punctuation character and non-ASCII ones, and
// paths of tens of thousands of characters, through every operation of the file service, the
// system service and the server object.
//
// One table of operations runs twice: against the device emulator, where every case must end
// with a result code, once, without a crash or a hang; and against a scripted device, where
// the bytes sent show every value arriving whole and percent-encoded (an invalid character as
// U+FFFD), never cut and never half-encoded.
#include <gtest/gtest.h>
#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>  // with wincrypt.h, for the base64 decoder
#else
#include <openssl/evp.h>
#endif

#include <chrono>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/DeviceReplies.h"
#include "support/EmulatedDevice.h"  // mkdtemp on Windows
#include "support/Files.h"
#include "support/Notifications.h"
#include "support/ScriptedServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vesk::test::FileNotes;
using vesk::test::SystemNotes;
using vesk::test::Utf8Name;
using vesk::test::Utf8Path;

// ---- the inputs ----

// Wide text is UTF-32 where wchar_t has 32 bits (Linux) and UTF-16 where it has 16 (Windows).
constexpr bool kUtf16 = WCHAR_MAX <= 0xFFFF;

// The wide characters these tests build texts from: halves of a surrogate pair and, where
// wchar_t has 32 bits, values no UTF-16 unit can hold.
constexpr wchar_t kHighSurrogate = static_cast<wchar_t>(0xD83D);
constexpr wchar_t kLowSurrogate = static_cast<wchar_t>(0xDE00);
#if WCHAR_MAX > 0xFFFF
constexpr wchar_t kAboveUnicode = static_cast<wchar_t>(0x110000);
// Negative as a wchar_t; its low byte is "/", so a careless encoder makes a separator of it.
constexpr wchar_t kNegative = static_cast<wchar_t>(0xFFFFFF2F);
#endif

const std::wstring kPunctuation = L"!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
// Every ASCII punctuation character but the two path separators, and non-ASCII ones from
// both sides of U+FFFF.
const std::wstring kNameCharacters =
    L"!\"#$%&'()*+,-.:;<=>?@[]^_`{|}~ \x00e4\x00df\x6587\x4ef6\U0001F600";
// The same for a local file's name: on Windows without the characters a file name there
// cannot hold ("*:<>?| and the quotation mark).
#ifdef _WIN32
const std::wstring kLocalNameCharacters =
    L"!#$%&'()+,-.;=@[]^_`{}~ \x00e4\x00df\x6587\x4ef6\U0001F600";
#else
const std::wstring kLocalNameCharacters = kNameCharacters;
#endif

std::wstring Invalid() {
#if WCHAR_MAX > 0xFFFF
  return std::wstring(L"a") + kHighSurrogate + L"b" + kLowSurrogate + kLowSurrogate +
         kHighSurrogate + L"c" + kAboveUnicode + L"d" + kNegative + L"e" +
         static_cast<wchar_t>(0x7FFFFFFF);
#else
  // Unpaired halves in every position: a low one first, a high one before a character, a low
  // one after a character and after another low one, the halves in the wrong order, a high one
  // before a pair, and a high one last.
  return std::wstring(1, kLowSurrogate) + L"a" + kHighSurrogate + L"b" + kLowSurrogate +
         kLowSurrogate + kHighSurrogate + L"c" + kHighSurrogate + kHighSurrogate + kLowSurrogate +
         L"d" + kHighSurrogate;
#endif
}

// A text that "begins" and "ends" with markers, holding every character a value can go wrong
// on, repeated to tens of thousands of characters: the value the scripted device must see
// whole.
std::wstring Marked() {
  std::wstring piece =
      kNameCharacters + Invalid() + L"\t\r\nX-Injected: yes\r\n\x7f" + std::wstring(150, L'q');
  std::wstring text = L"BEGIN";
  while (text.size() < 30000) text += piece;
  return text + L"END";
}

struct Input {
  const char* label;
  std::optional<std::wstring> text;  // nullopt: a null pointer
};

const std::vector<Input>& Inputs() {
  static const std::vector<Input> inputs = {
      {"null", std::nullopt},
      {"empty", L""},
      {"unpaired surrogates and values beyond Unicode", Invalid()},
      {"path of every ASCII punctuation character", L"/Public/" + kPunctuation},
      {"name of punctuation and non-ASCII characters", kNameCharacters},
      {"control characters and a header in a line of its own", L"a\tb\x7f\r\nX-Injected: yes"},
      {"a name with an at sign before an address", L"x@127.0.0.1"},
      {"path of tens of thousands of characters",
       L"/Public/" + std::wstring(20000, L'x') + L"/" + std::wstring(20000, L'\x00e4')},
      {"the marked value", Marked()},
  };
  return inputs;
}

// The code points of a wide text; every code unit that is no Unicode scalar value (in UTF-16:
// a surrogate half without its partner) becomes U+FFFD, and *invalid tells whether there was
// one.
std::u32string CodePoints(const std::wstring& text, bool* invalid = nullptr) {
  std::u32string out;
  bool replaced = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    if (kUtf16) c &= 0xFFFF;
    if (kUtf16 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      const auto low = static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out.push_back(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      c = 0xFFFD;
      replaced = true;
    }
    out.push_back(c);
  }
  if (invalid) *invalid = replaced;
  return out;
}

// The UTF-8 form the device must receive: every code unit that is no Unicode scalar value
// becomes U+FFFD.
std::string DeviceUtf8(const std::wstring& text) {
  std::string out;
  for (const char32_t c : CodePoints(text)) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// ---- the operations ----

// What an operation finds around it: a logged-in file station and system service of one
// device, a way to make server objects for that device, and local files.
struct Context {
  IVeskHttpFileStation* files = nullptr;
  IVeskHttpSystem* system = nullptr;
  unsigned short port = 0, tlsPort = 0;  // tlsPort 0: the device has no HTTPS
  fs::path local;                        // a local folder (its path is ASCII)
  std::wstring upload;                   // a local file to upload

  // A server object for this device, both services on its ports.
  CVeskHttpServer Server(const wchar_t* host = L"127.0.0.1", const wchar_t* user = L"admin",
                         const wchar_t* password = L"admin", int secure = 0,
                         const wchar_t* computer = L"") const {
    CVeskHttpServer server(CVeskHttpServerInfo(host, user, password, secure, computer));
    server.SetFileStationPortNum(port);
    server.SetSystemPortNum(port);
    server.SetFileStationSSLPortNum(tlsPort);
    server.SetSystemSSLPortNum(tlsPort);
    return server;
  }
  // The text as the name of a file in the local folder.
  std::wstring LocalPath(const wchar_t* text) const { return (local / "").wstring() + text; }
};

// Where an operation puts the text it is given.
enum class Use {
  None,      // nowhere: it takes no text (the null case still nulls its pointers)
  Device,    // into the request: every value that carries it must arrive whole
  Password,  // into a login form's base64 password
  Local,     // into a local path: never sent
  Host,      // into the host name: a bad one is refused before anything is sent
  Agent,     // into the User-Agent header
  Link,      // into the link the operation builds, without a request
};

// The outcome of one case. kNoHandle: the asynchronous form handed out no request, or its
// completion went unseen (the null case gives it no callback).
constexpr int kNoHandle = -1;

struct Outcome {
  int result = kNoHandle;
  std::wstring link;  // what a link builder built
};

struct Operation {
  const char* name;
  Use use;
  // Runs the operation with `text` (null: a null pointer) in the arguments `use` names and,
  // when `text` is null, null in every other pointer argument it takes too.
  std::function<Outcome(Context&, const wchar_t* text)> run;
  // true: no input can succeed, since each names an account the device does not have; a
  // success would be a failure reported as success.
  bool neverSucceeds = false;
};

// Waits for the completion of an asynchronous file-service request and releases it. Without
// a callback (the null case) the release cancels it and waits for it.
Outcome Finish(Context& c, IVeskHttpFileStationRequestBase* request, FileNotes* notes) {
  Outcome outcome;
  if (!request) return outcome;
  if (notes) {
    EXPECT_TRUE(notes->WaitForCompletions(1, 60s)) << "no completion notification";
    const auto all = notes->Notes();
    if (!all.empty()) outcome.result = all.back().result;
  }
  EXPECT_EQ(c.files->CloseRequest(&request), 1);
  EXPECT_EQ(request, nullptr);
  if (notes) {
    EXPECT_EQ(notes->Completions(), 1);
  }
  return outcome;
}

Outcome FinishSystem(Context& c, IVeskHttpSystemRequestBase* request, SystemNotes* notes) {
  Outcome outcome;
  if (!request) return outcome;
  if (notes) {
    EXPECT_TRUE(notes->WaitForCompletions(1, 60s)) << "no completion notification";
    const auto all = notes->Notes();
    if (!all.empty()) outcome.result = all.back().result;
  }
  EXPECT_EQ(c.system->CloseRequest(&request), 1);
  EXPECT_EQ(request, nullptr);
  return outcome;
}

Outcome Sync(int result) { return {result, {}}; }

// Logs a server in and out again; the login's result.
int LoginAndClose(CVeskHttpServer& server, _VESK_HTTP_STATION_TYPE_ type) {
  const int result = server.Login(type);
  if (result == VESK_HTTP_SUCCESS) {
    IVeskHttpFileStation* files = server.OpenFileStation();
    IVeskHttpSystem* system = server.OpenSystem();
    if (type == VESK_HTTP_STATION_FILE_STATION) {
      EXPECT_EQ(server.CloseFileStation(&files), 0);
    }
    if (type == VESK_HTTP_STATION_SYSTEM) {
      EXPECT_EQ(server.CloseSystem(&system), 0);
    }
  }
  return result;
}

// Every operation of the interface, each once per argument that takes a different kind of
// text. Names of the form "X (local path)" put the text where a local path goes.
std::vector<Operation> Operations() {
  // The pieces each form needs: outputs unless the case nulls them, a notification log unless
  // it nulls the callback, and the text as a path, a folder, a name.
  struct Args {
    const wchar_t* t;
    bool null;
    std::vector<CVeskHttpFileEntry> list;
    std::vector<CVeskHttpExtractEntry> extractList;
    std::vector<CVeskHttpShareLink> links;
    std::vector<CVeskHttpFileStatus> statuses;
    CVeskHttpFileStatus status;
    CVeskHttpShareLink link;
    CVeskHttpNASInfo info;
    CVeskHttpSystemSettingInfo settings;
    std::wstring id, url;
    int count = 0;
    int flag = 0;
    FileNotes notes;
    SystemNotes systemNotes;
    explicit Args(const wchar_t* text) : t(text), null(text == nullptr) {}
    std::vector<CVeskHttpFileEntry>* List() { return null ? nullptr : &list; }
    int* Flag() { return null ? nullptr : &flag; }
    FileNotes* Notes() { return null ? nullptr : &notes; }
    VESK_HTTP_NOTIFY_CALLBACK Notify() { return null ? nullptr : &FileNotes::Record; }
    SystemNotes* SysNotes() { return null ? nullptr : &systemNotes; }
    VESK_HTTP_SYSTEM_NOTIFY_CALLBACK SysNotify() { return null ? nullptr : &SystemNotes::Record; }
    std::vector<const wchar_t*> Names() { return {t}; }
    // A listing entry naming the text as a file of the folder the text names.
    CVeskHttpFileEntry Entry() const { return CVeskHttpFileEntry(0, 1, t, t); }
    CVeskHttpShareLinkInfo LinkInfo() const { return CVeskHttpShareLinkInfo(t, t, t, 0); }
    CVeskHttpShareLink Link() const {
      CVeskHttpShareLink l;
      l.SetURL(t);
      l.SetFileName(t);
      return l;
    }
  };
  using C = Context;
  const wchar_t* const known = L"/Public/known.bin";
  // A progress callback that ignores what it is told.
  static const VESK_HTTP_PROGRESS_CALLBACK ignore = [](void*, long long) {};

  return {
      // ---- the file service, synchronous forms ----
      {"GetShareFolderList", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->GetShareFolderList(a.Flag(), a.List()));
       }},
      {"GetFileListCount", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->GetFileListCount(t, a.Flag(), a.null ? nullptr : &a.count));
       }},
      {"GetFileList", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->GetFileList(t, 0, 10, a.Flag(), a.List()));
       }},
      {"GetViewerURL", Use::Link,
       [](C& c, const wchar_t* t) {
         Args a(t);
         const int result = c.files->GetViewerURL(t, a.null ? nullptr : &a.url);
         return Outcome{result, a.url};
       }},
      {"GetThumbnailURL", Use::Link,
       [](C& c, const wchar_t* t) {
         Args a(t);
         const int result = c.files->GetThumbnailURL(t, a.null ? nullptr : &a.url);
         return Outcome{result, a.url};
       }},
      {"UploadFile", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->UploadFile(c.upload.c_str(), t, a.Flag(), nullptr,
                                         a.null ? nullptr : ignore));
       }},
      {"UploadFile (local path)", Use::Local,
       [](C& c, const wchar_t* t) {
         Args a(t);
         const std::wstring path = t ? c.LocalPath(t) : L"";
         return Sync(c.files->UploadFile(t ? path.c_str() : nullptr, L"/Public", a.Flag(), nullptr,
                                         nullptr));
       }},
      {"StartChunkedUpload", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->StartChunkedUpload(t, a.Flag(), a.null ? nullptr : &a.id));
       }},
      {"ChunkedUploadFile", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->ChunkedUploadFile(c.upload.c_str(), t, t, t, t, a.Flag(), nullptr,
                                                a.null ? nullptr : ignore));
       }},
      {"ChunkedUploadFile (local path)", Use::Local,
       [](C& c, const wchar_t* t) {
         Args a(t);
         std::wstring id;
         c.files->StartChunkedUpload(L"/Public", nullptr, &id);
         const std::wstring path = t ? c.LocalPath(t) : L"";
         const int result =
             c.files->ChunkedUploadFile(t ? path.c_str() : nullptr, L"/Public", L"", id.c_str(),
                                        L"/Public", a.Flag(), nullptr, nullptr);
         c.files->DeleteChunkedUploadFile(id.c_str(), L"/Public", nullptr);
         return Sync(result);
       }},
      {"DeleteChunkedUploadFile", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->DeleteChunkedUploadFile(t, t, a.Flag()));
       }},
      {"DownloadFile (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->DownloadFile(a.Entry(), c.LocalPath(L"down").c_str(), 0, a.Flag(),
                                           nullptr, a.null ? nullptr : ignore));
       }},
      {"DownloadFile (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->DownloadFile(t, c.LocalPath(L"down").c_str(), 0, a.Flag(), nullptr,
                                           a.null ? nullptr : ignore));
       }},
      {"DownloadFile (local path)", Use::Local,
       [known](C& c, const wchar_t* t) {
         Args a(t);
         const std::wstring path = t ? c.LocalPath(t) : L"";
         return Sync(c.files->DownloadFile(known, t ? path.c_str() : nullptr, 0, a.Flag(), nullptr,
                                           nullptr));
       }},
      {"CreateShareLink", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->CreateShareLink(a.LinkInfo(), a.Flag(), a.null ? nullptr : &a.link));
       }},
      {"GetShareLinkList", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->GetShareLinkList(10, a.Flag(), a.null ? nullptr : &a.links));
       }},
      {"DeleteShareLink", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->DeleteShareLink(a.Link(), a.Flag()));
       }},
      {"CreateFolder (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->CreateFolder(t, t, a.Flag()));
       }},
      {"CreateFolder (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->CreateFolder(a.Entry(), t, a.Flag()));
       }},
      {"CopyFile (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->CopyFile(t, t, 0, a.Flag(), nullptr, nullptr));
       }},
      {"CopyFile (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->CopyFile(a.Entry(), t, 0, a.Flag(), nullptr, nullptr));
       }},
      {"MoveFile (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->MoveFile(t, t, 0, a.Flag(), nullptr, nullptr));
       }},
      {"MoveFile (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->MoveFile(a.Entry(), t, 0, a.Flag(), nullptr, nullptr));
       }},
      {"DeleteFile (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->DeleteFile(t, a.Flag()));
       }},
      {"DeleteFile (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->DeleteFile(a.Entry(), a.Flag()));
       }},
      {"RenameFile", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->RenameFile(t, t, a.Flag()));
       }},
      {"SetFileModifyTime", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->SetFileModifyTime(t, 1, a.Flag(), a.null ? nullptr : &a.status));
       }},
      {"SearchFile", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->SearchFile(t, t, 10, a.Flag(), a.List()));
       }},
      {"GetFileStatus", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->GetFileStatus(t, a.Flag(), a.null ? nullptr : &a.status));
       }},
      {"GetFileStatusList", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->GetFileStatusList(t, 0, 10, a.Flag(), a.null ? nullptr : &a.count,
                                                a.null ? nullptr : &a.statuses));
       }},
      {"SearchFileStatus", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->SearchFileStatus(t, t, 10, a.Flag(), a.null ? nullptr : &a.statuses));
       }},
      {"SetFileModifyTime64", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(
             c.files->SetFileModifyTime64(t, 4102444800LL, a.Flag(), a.null ? nullptr : &a.status));
       }},
      {"CompressFile", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->CompressFile(t, t, 1, a.Names(), 0, t, 0, 0, 0, a.Flag(), nullptr,
                                           a.null ? nullptr : ignore));
       }},
      {"GetExtractList", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(
             c.files->GetExtractList(t, 0, 10, a.Flag(), a.null ? nullptr : &a.extractList));
       }},
      {"ExtractFile", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->ExtractFile(t, t, t, 1, 1, a.Names(), 0, 1, a.Flag(), nullptr,
                                          a.null ? nullptr : ignore));
       }},
      {"GetDomainIPList", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->GetDomainIPList(a.Flag(), a.null ? nullptr : &a.info));
       }},
      {"AddVideoTranscode", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->AddVideoTranscode(t, a.Flag()));
       }},
      {"DeleteVideoTranscode", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.files->DeleteVideoTranscode(t, a.Flag()));
       }},
      {"CloseRequest", Use::None,
       [](C& c, const wchar_t* t) {
         // A null pointer, a pointer to a null handle, and a handle released already.
         IVeskHttpFileStationRequestBase* handle = nullptr;
         EXPECT_EQ(c.files->CloseRequest(nullptr), 1);
         EXPECT_EQ(c.files->CloseRequest(&handle), 1);
         if (t) {
           Args a(t);
           handle = c.files->GetShareFolderListAsync(a.Notes(), a.Notify());
           IVeskHttpFileStationRequestBase* copy = handle;
           EXPECT_EQ(c.files->CloseRequest(&handle), 1);
           EXPECT_EQ(handle, nullptr);
           EXPECT_EQ(c.files->CloseRequest(&copy), 1);  // no longer this station's: left alone
           EXPECT_NE(copy, nullptr);
         }
         return Sync(VESK_HTTP_SUCCESS);
       }},

      // ---- the file service, asynchronous forms ----
      {"GetShareFolderListAsync", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->GetShareFolderListAsync(a.Notes(), a.Notify()), a.Notes());
       }},
      {"GetFileListCountAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->GetFileListCountAsync(t, a.Notes(), a.Notify()), a.Notes());
       }},
      {"GetFileListAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->GetFileListAsync(t, 0, 10, a.Notes(), a.Notify()), a.Notes());
       }},
      {"CreateShareLinkAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->CreateShareLinkAsync(a.LinkInfo(), a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"GetShareLinkListAsync", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->GetShareLinkListAsync(10, a.Notes(), a.Notify()), a.Notes());
       }},
      {"DeleteShareLinkAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->DeleteShareLinkAsync(a.Link(), a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"UploadFileAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->UploadFileAsync(c.upload.c_str(), t, a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"UploadFileAsync (local path)", Use::Local,
       [](C& c, const wchar_t* t) {
         Args a(t);
         const std::wstring path = t ? c.LocalPath(t) : L"";
         return Finish(c,
                       c.files->UploadFileAsync(t ? path.c_str() : nullptr, L"/Public", a.Notes(),
                                                a.Notify()),
                       a.Notes());
       }},
      {"StartChunkedUploadAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->StartChunkedUploadAsync(t, a.Notes(), a.Notify()), a.Notes());
       }},
      {"ChunkedUploadFileAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(
             c,
             c.files->ChunkedUploadFileAsync(c.upload.c_str(), t, t, t, t, a.Notes(), a.Notify()),
             a.Notes());
       }},
      {"DeleteChunkedUploadFileAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->DeleteChunkedUploadFileAsync(t, t, a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"DownloadFileAsync (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(
             c,
             c.files->DownloadFileAsync(t, c.LocalPath(L"down").c_str(), 0, a.Notes(), a.Notify()),
             a.Notes());
       }},
      {"DownloadFileAsync (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c,
                       c.files->DownloadFileAsync(a.Entry(), c.LocalPath(L"down").c_str(), 0,
                                                  a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"DownloadFileAsync (local path)", Use::Local,
       [known](C& c, const wchar_t* t) {
         Args a(t);
         const std::wstring path = t ? c.LocalPath(t) : L"";
         return Finish(c,
                       c.files->DownloadFileAsync(known, t ? path.c_str() : nullptr, 0, a.Notes(),
                                                  a.Notify()),
                       a.Notes());
       }},
      {"CreateFolderAsync (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->CreateFolderAsync(t, t, a.Notes(), a.Notify()), a.Notes());
       }},
      {"CreateFolderAsync (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->CreateFolderAsync(a.Entry(), t, a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"CopyFileAsync (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->CopyFileAsync(t, t, 0, a.Notes(), a.Notify()), a.Notes());
       }},
      {"CopyFileAsync (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->CopyFileAsync(a.Entry(), t, 0, a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"MoveFileAsync (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->MoveFileAsync(t, t, 0, a.Notes(), a.Notify()), a.Notes());
       }},
      {"MoveFileAsync (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->MoveFileAsync(a.Entry(), t, 0, a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"DeleteFileAsync (path)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->DeleteFileAsync(t, a.Notes(), a.Notify()), a.Notes());
       }},
      {"DeleteFileAsync (entry)", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->DeleteFileAsync(a.Entry(), a.Notes(), a.Notify()), a.Notes());
       }},
      {"RenameFileAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->RenameFileAsync(t, t, a.Notes(), a.Notify()), a.Notes());
       }},
      {"SetFileModifyTimeAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->SetFileModifyTimeAsync(t, 1, a.Notes(), a.Notify()), a.Notes());
       }},
      {"SearchFileAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->SearchFileAsync(t, t, 10, a.Notes(), a.Notify()), a.Notes());
       }},
      {"GetFileStatusAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->GetFileStatusAsync(t, a.Notes(), a.Notify()), a.Notes());
       }},
      {"GetFileStatusListAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->GetFileStatusListAsync(t, 0, 10, a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"SearchFileStatusAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->SearchFileStatusAsync(t, t, 10, a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"SetFileModifyTime64Async", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->SetFileModifyTime64Async(t, 4102444800LL, a.Notes(), a.Notify()),
                       a.Notes());
       }},
      {"CompressFileAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(
             c,
             c.files->CompressFileAsync(t, t, 1, a.Names(), 0, t, 0, 0, 0, a.Notes(), a.Notify()),
             a.Notes());
       }},
      {"GetExtractListAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->GetExtractListAsync(t, 0, 10, a.Notes(), a.Notify()), a.Notes());
       }},
      {"ExtractFileAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(
             c, c.files->ExtractFileAsync(t, t, t, 1, 1, a.Names(), 0, 1, a.Notes(), a.Notify()),
             a.Notes());
       }},
      {"GetDomainIPListAsync", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->GetDomainIPListAsync(a.Notes(), a.Notify()), a.Notes());
       }},
      {"AddVideoTranscodeAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->AddVideoTranscodeAsync(t, a.Notes(), a.Notify()), a.Notes());
       }},
      {"DeleteVideoTranscodeAsync", Use::Device,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Finish(c, c.files->DeleteVideoTranscodeAsync(t, a.Notes(), a.Notify()), a.Notes());
       }},

      // ---- the system service ----
      {"GetSystemSetting", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.system->GetSystemSetting(a.Flag(), a.null ? nullptr : &a.settings));
       }},
      {"EnableWebFileManager", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return Sync(c.system->EnableWebFileManager(a.Flag()));
       }},
      {"System CloseRequest", Use::None,
       [](C& c, const wchar_t*) {
         IVeskHttpSystemRequestBase* handle = nullptr;
         EXPECT_EQ(c.system->CloseRequest(nullptr), 1);
         EXPECT_EQ(c.system->CloseRequest(&handle), 1);
         return Sync(VESK_HTTP_SUCCESS);
       }},
      {"GetSystemSettingAsync", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return FinishSystem(c, c.system->GetSystemSettingAsync(a.SysNotes(), a.SysNotify()),
                             a.SysNotes());
       }},
      {"EnableWebFileManagerAsync", Use::None,
       [](C& c, const wchar_t* t) {
         Args a(t);
         return FinishSystem(c, c.system->EnableWebFileManagerAsync(a.SysNotes(), a.SysNotify()),
                             a.SysNotes());
       }},

      // ---- the server object ----
      {"Login (host)", Use::Host,
       [](C& c, const wchar_t* t) {
         CVeskHttpServer server = c.Server(t);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_FILE_STATION));
       }},
      {"Login (user)", Use::Device,
       [](C& c, const wchar_t* t) {
         CVeskHttpServer server = c.Server(L"127.0.0.1", t);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_FILE_STATION));
       },
       true},
      {"Login (password)", Use::Password,
       [](C& c, const wchar_t* t) {
         CVeskHttpServer server = c.Server(L"127.0.0.1", L"admin", t);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_FILE_STATION));
       },
       true},
      {"Login (computer name)", Use::Device,
       [](C& c, const wchar_t* t) {
         CVeskHttpServer server = c.Server(L"127.0.0.1", L"admin", L"admin", 0, t);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_FILE_STATION));
       }},
      {"System login (host)", Use::Host,
       [](C& c, const wchar_t* t) {
         CVeskHttpServer server = c.Server(t);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_SYSTEM));
       }},
      {"System login (user)", Use::Device,
       [](C& c, const wchar_t* t) {
         CVeskHttpServer server = c.Server(L"127.0.0.1", t);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_SYSTEM));
       },
       true},
      {"System login (password)", Use::Password,
       [](C& c, const wchar_t* t) {
         CVeskHttpServer server = c.Server(L"127.0.0.1", L"admin", t);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_SYSTEM));
       },
       true},
      {"SetAgentName", Use::Agent,
       [](C& c, const wchar_t* t) {
         CVeskHttpServer server = c.Server();
         EXPECT_EQ(server.SetAgentName(t), 1);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_SYSTEM));
       }},
      {"SetCertificatePin", Use::None,
       [](C& c, const wchar_t* t) {
         // None of the texts is a fingerprint: a malformed one is refused and changes nothing.
         CVeskHttpServer server = c.Server();
         EXPECT_EQ(server.SetCertificatePin(t), t && *t ? 0 : 1);
         return Sync(LoginAndClose(server, VESK_HTTP_STATION_SYSTEM));
       }},
      {"SetVerifyCertificate (CA file)", Use::None,
       [](C& c, const wchar_t* t) {
         // The device's self-signed certificate chains to no authority there is.
         CVeskHttpServer server = c.Server(L"127.0.0.1", L"admin", L"admin", c.tlsPort ? 1 : 0);
         EXPECT_EQ(server.SetVerifyCertificate(1, t), 1);
         const int result = LoginAndClose(server, VESK_HTTP_STATION_SYSTEM);
         if (c.tlsPort) {
           EXPECT_EQ(result, VESK_HTTP_SEND_FAILED);
         }
         return Sync(result);
       }},
      {"CloseFileStation and CloseSystem", Use::None,
       [](C& c, const wchar_t*) {
         CVeskHttpServer server = c.Server();
         IVeskHttpFileStation* files = nullptr;
         IVeskHttpSystem* system = nullptr;
         EXPECT_EQ(server.CloseFileStation(nullptr), VESK_HTTP_NOT_LOGGED_IN);
         EXPECT_EQ(server.CloseFileStation(&files), VESK_HTTP_NOT_LOGGED_IN);
         EXPECT_EQ(server.CloseSystem(nullptr), VESK_HTTP_NOT_LOGGED_IN);
         EXPECT_EQ(server.CloseSystem(&system), VESK_HTTP_NOT_LOGGED_IN);
         EXPECT_EQ(server.OpenFileStation(), nullptr);
         EXPECT_EQ(server.OpenSystem(), nullptr);
         return Sync(VESK_HTTP_NOT_LOGGED_IN);
       }},
  };
}

// The codes an operation may end with.
// Whether the Windows build runs under Wine (whose ntdll names its version).
bool UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

bool IsAscii(const std::string& text) {
  for (const char ch : text)
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  return true;
}

bool IsFinalCode(int code) {
  static const std::set<int> codes = {
      VESK_HTTP_SUCCESS,         VESK_HTTP_CANCELLED,       VESK_HTTP_SERVER_FAILED,
      VESK_HTTP_SEND_FAILED,     VESK_HTTP_BAD_HTTP_STATUS, VESK_HTTP_INVALID_REQUEST,
      VESK_HTTP_NOT_LOGGED_IN,   VESK_HTTP_LOGIN_FAILED,    VESK_HTTP_THREAD_FAILED,
      VESK_HTTP_DEVICE_STATUS_2, VESK_HTTP_DEVICE_STATUS_5, VESK_HTTP_DEVICE_STATUS_4,
      VESK_HTTP_DEVICE_STATUS_9, VESK_HTTP_CHUNK_STATUS_5};
  return code == kNoHandle || codes.count(code) != 0;
}

// Whether a text holds a code unit that is no Unicode scalar value.
bool HasInvalidUnit(const std::wstring& text) {
  bool invalid = false;
  CodePoints(text, &invalid);
  return invalid;
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// A fresh folder under /tmp (Z:\tmp on Windows, where the emulator's process finds it too).
fs::path FreshFolder(const std::string& prefix) {
#ifdef _WIN32
  std::string pattern = "Z:\\tmp\\" + prefix + "-XXXXXX";
#else
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
#endif
  const char* made = mkdtemp(pattern.data());
  EXPECT_NE(made, nullptr) << "no folder " << pattern;
  return made ? fs::path(made) : fs::path();
}

// A local folder with a file to upload.
class LocalFiles {
 protected:
  LocalFiles() {
    local_ = FreshFolder("vesk-badinput");
    WriteFile(local_ / "up.bin", "the bytes of a small file");
  }
  ~LocalFiles() { fs::remove_all(local_); }
  fs::path local_;
};

// ---- against the emulator: a code, once, for every case ----

class BadInput : public ::testing::Test, protected LocalFiles {
 protected:
  void SetUp() override {
    root_ = FreshFolder("vesk-badinput-root");
    fs::create_directory(root_ / "Public");
    WriteFile(root_ / "Public" / "known.bin", "known");
    vesk::emulator::EmulatorOptions options;
    options.root = root_.string();
    device_ = std::make_unique<vesk::emulator::Emulator>(options);
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
    context_.port = device_->Port();
    context_.tlsPort = device_->TlsPort();
    context_.local = local_;
    context_.upload = (local_ / "up.bin").wstring();
    server_ = context_.Server();
    ASSERT_EQ(server_.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
    ASSERT_EQ(server_.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
    context_.files = server_.OpenFileStation();
    context_.system = server_.OpenSystem();
  }
  void TearDown() override {
    if (context_.files) {
      EXPECT_EQ(server_.CloseFileStation(&context_.files), VESK_HTTP_SUCCESS);
    }
    if (context_.system) {
      EXPECT_EQ(server_.CloseSystem(&context_.system), VESK_HTTP_SUCCESS);
    }
    device_.reset();
    fs::remove_all(root_);
  }

  fs::path root_;
  std::unique_ptr<vesk::emulator::Emulator> device_;
  CVeskHttpServer server_;
  Context context_;
};

TEST_F(BadInput, EveryOperationAnswersEveryInputWithACode) {
  for (const Operation& op : Operations()) {
    for (const Input& input : Inputs()) {
      SCOPED_TRACE(std::string(op.name) + " with " + input.label);
      const wchar_t* text = input.text ? input.text->c_str() : nullptr;
      const Outcome outcome = op.run(context_, text);
      EXPECT_TRUE(IsFinalCode(outcome.result)) << outcome.result;
      // A login with an account the device does not have is refused (or, for a text too long
      // for the device to read, the request is).
      if (op.neverSucceeds) {
        EXPECT_TRUE(outcome.result == VESK_HTTP_LOGIN_FAILED ||
                    outcome.result == VESK_HTTP_BAD_HTTP_STATUS)
            << outcome.result;
      }
      // A local path the platform cannot name is refused, never opened under another name.
      if (op.use == Use::Local && input.text && HasInvalidUnit(*input.text)) {
        EXPECT_TRUE(outcome.result == VESK_HTTP_INVALID_REQUEST || outcome.result == kNoHandle)
            << outcome.result;
      }
      // A host that is not one reaches nothing.
      if (op.use == Use::Host) {
        EXPECT_EQ(outcome.result, VESK_HTTP_SEND_FAILED);
      }
    }
  }
  // Nothing was written under a name the caller did not give.
  for (const auto& entry : fs::recursive_directory_iterator(local_))
    EXPECT_EQ(Utf8Name(entry.path().filename()).find("\xef\xbf\xbd"), std::string::npos)
        << entry.path();
  // The station and the service still work.
  std::vector<CVeskHttpFileEntry> roots;
  EXPECT_EQ(context_.files->GetShareFolderList(nullptr, &roots), VESK_HTTP_SUCCESS);
  CVeskHttpSystemSettingInfo settings;
  EXPECT_EQ(context_.system->GetSystemSetting(nullptr, &settings), VESK_HTTP_SUCCESS);
}

// A name of every ASCII punctuation character but the separators and of non-ASCII characters
// goes up and down whole, as a device name and as a local file name (on Windows one without the
// characters its file names cannot hold).
TEST_F(BadInput, ANameOfEveryPunctuationCharacterMovesUpAndDownWhole) {
  // Whether the device holds path: on its disk; on Windows, which cannot name every such file,
  // through the service.
  const auto onDevice = [&](const std::wstring& path) {
#ifdef _WIN32
    CVeskHttpFileStatus status;
    return context_.files->GetFileStatus(path.c_str(), nullptr, &status) == VESK_HTTP_SUCCESS &&
           path.ends_with(std::wstring(L"/") + status.GetFileName());
#else
    return fs::exists(root_ / Utf8Path(DeviceUtf8(path.substr(1))));
#endif
  };
  const std::wstring name = kNameCharacters, localName = kLocalNameCharacters;
  const std::string content = "awkwardly named";
  WriteFile(local_ / Utf8Path(DeviceUtf8(localName)), content);
  ASSERT_EQ(context_.files->CreateFolder(L"/Public", name.c_str(), nullptr), VESK_HTTP_SUCCESS);
  const std::wstring folder = L"/Public/" + name;
  const std::wstring local = (local_ / "").wstring() + localName;
  ASSERT_EQ(context_.files->UploadFile(local.c_str(), folder.c_str(), nullptr, nullptr, nullptr),
            VESK_HTTP_SUCCESS);
  EXPECT_TRUE(onDevice(folder + L"/" + localName));

  std::wstring id;
  ASSERT_EQ(context_.files->StartChunkedUpload(folder.c_str(), nullptr, &id), VESK_HTTP_SUCCESS);
  const std::wstring renamed = name + L" 2";
  ASSERT_EQ(
      context_.files->ChunkedUploadFile(local.c_str(), folder.c_str(), renamed.c_str(), id.c_str(),
                                        folder.c_str(), nullptr, nullptr, nullptr),
      VESK_HTTP_SUCCESS);
  EXPECT_TRUE(onDevice(folder + L"/" + renamed));

  fs::create_directory(local_ / "back");
  const fs::path back = local_ / "back" / Utf8Path(DeviceUtf8(localName));
  ASSERT_EQ(context_.files->DownloadFile(CVeskHttpFileEntry(0, 0, folder.c_str(), renamed.c_str()),
                                         ((local_ / "back" / "").wstring() + localName).c_str(), 0,
                                         nullptr, nullptr, nullptr),
            VESK_HTTP_SUCCESS);
  std::ifstream in(back, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);

  CVeskHttpShareLink link;
  ASSERT_EQ(context_.files->CreateShareLink(
                CVeskHttpShareLinkInfo((folder + L"/" + localName).c_str(), name.c_str(), L"0", 0),
                nullptr, &link),
            VESK_HTTP_SUCCESS);
  EXPECT_EQ(link.GetFileName(), folder + L"/" + localName);
  EXPECT_EQ(context_.files->DeleteShareLink(link, nullptr), VESK_HTTP_SUCCESS);
  // Gone through the service as well: on Windows this program could not remove it.
  EXPECT_EQ(context_.files->DeleteFile(folder.c_str(), nullptr), VESK_HTTP_SUCCESS);
  EXPECT_FALSE(onDevice(folder));
}

// ---- against a scripted device: every value arrives whole ----

// The base64 text of a login form's password, decoded.
std::string Base64Decoded(std::string text) {
  std::erase(text, '\n');
  if (text.empty()) return "";
#ifdef _WIN32
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                            nullptr, &size, nullptr, nullptr)) {
    return "(not base64)";
  }
  std::string out(size, '\0');
  if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                            reinterpret_cast<BYTE*>(out.data()), &size, nullptr, nullptr)) {
    return "(not base64)";
  }
  out.resize(size);
  return out;
#else
  std::string out(text.size() / 4 * 3 + 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return "(not base64)";
  out.resize(static_cast<std::size_t>(n) - std::count(text.end() - 2, text.end(), '='));
  return out;
#endif
}

// Checks that every value of a request's query and form that holds the marker holds the whole
// expected text from there; returns how many such values there are.
int CheckValues(const vesk::httpd::Fields& fields, const std::string& expected) {
  int found = 0;
  for (const auto& [key, value] : fields) {
    for (auto at = value.find("BEGIN"); at != std::string::npos; at = value.find("BEGIN", at + 1)) {
      ++found;
      EXPECT_EQ(value.compare(at, expected.size(), expected), 0)
          << "the value of " << key << " is not whole: " << value.size() << " bytes";
    }
  }
  return found;
}

// A scripted device with a file station and a system service logged in to it. Each operation
// gets a device of its own, so that its requests are few to look through.
class ScriptedDevice {
 public:
  ScriptedDevice(const fs::path& local, const std::wstring& upload) {
    // A reply every command reads as a refusal or an empty answer, so that none of them goes
    // on polling; a chunked upload reads it as nothing held yet, and sends its data.
    device_.SetDefaultReply(vesk::test::JsonReply(R"({"status":0,"size":0})"));
    device_.Enqueue(
        vesk::test::XmlReply("<reply><authPassed>1</authPassed><authSid>sys</authSid></reply>"));
    device_.Enqueue(vesk::test::JsonReply(R"({"status":0,"sid":"files"})"));
    context_.port = device_.Port();
    context_.local = local;
    context_.upload = upload;
    server_ = context_.Server();
    EXPECT_EQ(server_.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
    EXPECT_EQ(server_.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
    context_.files = server_.OpenFileStation();
    context_.system = server_.OpenSystem();
  }
  ~ScriptedDevice() {
    device_.Enqueue(vesk::test::JsonReply(R"({"status":1})"));  // the file logout's answer
    if (context_.files) {
      EXPECT_EQ(server_.CloseFileStation(&context_.files), VESK_HTTP_SUCCESS);
    }
    if (context_.system) {
      EXPECT_EQ(server_.CloseSystem(&context_.system), VESK_HTTP_SUCCESS);
    }
  }
  bool Ready() const { return context_.files && context_.system; }
  Context& Stations() { return context_; }
  std::size_t Count() const { return device_.Requests().size(); }
  // The requests from the index-th on.
  std::vector<vesk::httpd::Request> Since(std::size_t index) const {
    const auto all = device_.Requests();
    return {all.begin() + static_cast<long>(index), all.end()};
  }

 private:
  vesk::test::ScriptedServer device_;
  CVeskHttpServer server_;
  Context context_;
};

class BadInputOnTheWire : public ::testing::Test, protected LocalFiles {
 protected:
  BadInputOnTheWire() {
    // A local file whose name the multipart form carries: every punctuation character but
    // the separators, non-ASCII characters and a line break (on Windows, whose file names hold
    // no line break and fewer punctuation characters, those it can).
#ifdef _WIN32
    uploadName_ = kLocalNameCharacters + L".bin";
#else
    uploadName_ = kNameCharacters + L"\r\n.bin";
#endif
    WriteFile(local_ / Utf8Path(DeviceUtf8(uploadName_)), "data");
  }
  std::wstring uploadName_;
};

TEST_F(BadInputOnTheWire, EveryValueArrivesWholeAndEncoded) {
  // The form's file name is not percent-encoded; only its line breaks are.
  const auto multipartName = [](const std::wstring& name) {
    std::string out;
    for (const char ch : DeviceUtf8(name))
      out += ch == '\r' ? std::string("%0D") : ch == '\n' ? std::string("%0A") : std::string(1, ch);
    return out;
  };

  for (const Operation& op : Operations()) {
    ScriptedDevice device(local_, (local_ / "").wstring() + uploadName_);
    ASSERT_TRUE(device.Ready());
    for (const Input& input : Inputs()) {
      SCOPED_TRACE(std::string(op.name) + " with " + input.label);
      const wchar_t* text = input.text ? input.text->c_str() : nullptr;
      const std::string expected = input.text ? DeviceUtf8(*input.text) : "";
      const bool marked = expected.find("BEGIN") != std::string::npos;
      const std::size_t before = device.Count();
      const Outcome outcome = op.run(device.Stations(), text);
      EXPECT_TRUE(IsFinalCode(outcome.result)) << outcome.result;
      const std::vector<vesk::httpd::Request> requests = device.Since(before);
      int found = 0;
      for (const auto& request : requests) {
        found += CheckValues(request.Query(), expected);
        const std::string* type = request.Header("Content-Type");
        if (type && type->find("multipart/form-data") != std::string::npos) {
          const std::wstring uploaded =
              op.use == Use::Local && input.text ? *input.text : uploadName_;
          EXPECT_NE(request.body.find("filename=\"" + multipartName(uploaded) + "\""),
                    std::string::npos);
        } else {
          found += CheckValues(request.FormFields(), expected);
        }
        EXPECT_EQ(request.Header("X-Injected"), nullptr) << "a header was injected";
        if (op.use == Use::Password) {
          for (const auto& [key, value] : request.FormFields()) {
            if (key == "pwd") {
              EXPECT_EQ(Base64Decoded(value), expected);
            }
          }
        }
        // Wine's WinHTTP encodes the header's characters as UTF-8 once more, where Windows
        // sends the bytes the library hands it: there a name beyond ASCII is not compared.
        if (op.use == Use::Agent && input.text && !input.text->empty() &&
            !(UnderWine() && !IsAscii(expected))) {
          // One header, whole: a control character of the name is a space there.
          std::string sent = expected;
          for (char& ch : sent) {
            if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = ' ';
          }
          const std::string* agent = request.Header("User-Agent");
          ASSERT_NE(agent, nullptr);
          EXPECT_EQ(*agent, sent);
        }
      }
      switch (op.use) {
        case Use::Device:
          if (marked) {
            EXPECT_GT(found, 0) << "the value was not sent";
          }
          break;
        case Use::Agent:
          EXPECT_FALSE(requests.empty());
          break;
        case Use::Host:
          EXPECT_EQ(outcome.result, VESK_HTTP_SEND_FAILED);
          EXPECT_TRUE(requests.empty()) << "a host that is none was reached";
          break;
        case Use::Local:
          // A path no file here can have is refused before anything is sent.
          if (input.text && (HasInvalidUnit(*input.text) || input.text->size() > 255)) {
            EXPECT_TRUE(outcome.result == VESK_HTTP_INVALID_REQUEST || outcome.result == kNoHandle)
                << outcome.result;
          }
          EXPECT_EQ(found, 0);
          break;
        case Use::Link:
          if (input.text) {
            // The link as a browser sends it: UTF-8, non-ASCII bytes as they are.
            ASSERT_EQ(outcome.result, VESK_HTTP_SUCCESS);
            vesk::httpd::Request link;
            const std::string url = DeviceUtf8(outcome.link);
            link.target = url.substr(url.find("/cgi-bin/"));
            const int inLink = CheckValues(link.Query(), expected);
            if (marked) {
              EXPECT_GT(inLink, 0) << "the value is not in the link";
            }
          }
          break;
        default:
          break;
      }
    }
  }
}

}  // namespace
