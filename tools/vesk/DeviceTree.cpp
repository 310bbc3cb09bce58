#include "DeviceTree.h"

#include "CommandSupport.h"
#include "Interrupt.h"
#include "Output.h"
#include "Paths.h"
#include "Progress.h"
#include "Text.h"

namespace vesk::cli {

namespace {

constexpr int kPage = 500;  // entries asked for at a time

}  // namespace

std::vector<Row> ListFolder(Session& session, const std::string& path) {
  std::vector<Row> rows;
  std::vector<CVeskHttpFileEntry> entries;
  if (path == "/") {
    session.Run(Op::List, path,
                [&] { return session.Files().GetShareFolderList(CancelFlag(), &entries); });
  } else {
    const std::wstring folder = Wide(path);
    int count = 0;
    auto started = Session::Clock::now();
    const int result = session.Files().GetFileListCount(folder.c_str(), CancelFlag(), &count);
    if (result == VESK_HTTP_DEVICE_STATUS_4) {
      // Not a folder: perhaps a file, which ls shows on its own.
      const auto status = StatusOf(session, path);
      if (!status || status->IsDir()) throw ResultFailure(result, Op::List, path);
      Row row{Parent(path), Name(path), false, status->GetFileSize(), status};
      return {row};
    }
    if (result != VESK_HTTP_SUCCESS) throw session.Fail(result, Op::List, path, started);
    // The count fixes the pages: a page can come back short when the device leaves out an
    // entry it cannot describe.
    for (int start = 0; start < count; start += kPage) {
      session.Run(Op::List, path, [&] {
        return session.Files().GetFileList(folder.c_str(), start, kPage, CancelFlag(), &entries);
      });
    }
  }
  for (const auto& entry : entries) {
    rows.push_back(Row{path == "/" ? std::string() : path, Utf8(entry.GetFileName()),
                       entry.IsDir() != 0, entry.GetFileSize(), std::nullopt});
  }
  return rows;
}

std::string Shown(const std::string& name, bool isFolder) { return isFolder ? name + "/" : name; }

void AddStatusJson(Json::Value& value, const CVeskHttpFileStatus& status) {
  value["modified"] = Utf8(status.GetMT());
  value["permission"] = Utf8(status.GetFolderPermission());
  value["owner"] = Utf8(status.GetOwner());
  value["group"] = Utf8(status.GetGroup());
  value["compressed"] = status.IsCommpressed() != 0;
}

int ForEachPath(
    const Globals& globals, const std::vector<std::string>& paths,
    const std::function<void(const std::string& path, bool first, Json::Value& all)>& show) {
  Items items;
  Json::Value all(Json::arrayValue);
  bool first = true;
  for (const std::string& given : paths) {
    items.Run([&] {
      show(DevicePath(given), first, all);
      first = false;
    });
  }
  if (globals.json) PrintJson(all);
  return items.Status();
}

bool IsFolder(Session& session, const std::string& path) {
  if (path == "/") return false;  // nothing is copied or moved to the top
  const auto status = StatusOf(session, path);
  return status && status->IsDir();
}

void RunJob(Session& session, Op op, const std::string& source, const std::string& folder,
            bool force) {
  Progress progress(Progress::Kind::Percent,
                    std::string(op == Op::Copy ? "copy " : "move ") + Name(source));
  const std::wstring from = Wide(source), to = Wide(folder);
  const int mode = force ? 1 : 0;
  const auto started = Session::Clock::now();
  // With a progress callback the call waits for the job to end; without one it would return
  // as soon as the device took the job.
  const int result = op == Op::Copy
                         ? session.Files().CopyFile(from.c_str(), to.c_str(), mode, CancelFlag(),
                                                    &progress, &Progress::Report)
                         : session.Files().MoveFile(from.c_str(), to.c_str(), mode, CancelFlag(),
                                                    &progress, &Progress::Report);
  progress.Finish();
  if (result == VESK_HTTP_CANCELLED) {
    throw Failure(kInterrupted, std::string("interrupted: the device may still finish the ") +
                                    (op == Op::Copy ? "copy" : "move") + " of " + source);
  }
  if (result != VESK_HTTP_SUCCESS) throw session.Fail(result, op, source, started);
}

}  // namespace vesk::cli
