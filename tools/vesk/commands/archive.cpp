// vesk zip and unzip: archives on the device. zip compresses items of one folder into an
// archive there; unzip lists an archive or extracts it. Both follow the device's job with a
// progress line, and take an archive's password from VESK_ARCHIVE_PASSWORD.
#include <cstdlib>
#include <functional>

#include "CommandSupport.h"
#include "Interrupt.h"
#include "Output.h"
#include "Paths.h"
#include "Progress.h"
#include "Text.h"

namespace vesk::cli {

namespace {

constexpr int kPage = 500;  // archive entries asked for at a time
constexpr const char* kPasswordVariable = "VESK_ARCHIVE_PASSWORD";
// Update modes of a compression: an archive of the name is replaced, or refused.
constexpr int kReplace = 0, kRefuse = 1;

struct ZipOptions {
  std::vector<std::string> paths;  // the archive, then the items
  std::string format;              // "zip" or "7z"; empty: by the archive's extension
  std::string level = "normal";
  std::string encryption;  // "" (none), "aes256" or "zipcrypto"
  bool force = false;      // replace an archive of that name
};

struct UnzipOptions {
  std::string archive;
  std::string destination;  // empty: the archive's folder
  bool list = false, flat = false, overwrite = false;
  std::vector<std::string> only;
};

int Choice(const std::string& value, std::initializer_list<const char*> words) {
  int index = 0;
  for (const char* word : words) {
    if (value == word) return index;
    ++index;
  }
  return 0;
}

// Follows a compress or extract job with a progress line; Ctrl-C cancels the job.
void RunArchiveJob(Session& session, Op op, const std::string& subject, const std::string& label,
                   const std::function<int(Progress&)>& call) {
  Progress progress(Progress::Kind::Percent, label);
  const auto started = Session::Clock::now();
  const int result = call(progress);
  progress.Finish();
  if (result != VESK_HTTP_SUCCESS) throw session.Fail(result, op, subject, started);
}

int RunZip(const Globals& globals, const ZipOptions& options) {
  if (options.paths.size() < 2) throw Failure(kUsage, "zip: give the archive, then the items");
  std::vector<std::string> items;
  for (std::size_t i = 1; i < options.paths.size(); ++i) {
    items.push_back(DevicePath(options.paths[i]));
  }
  const std::string folder = Parent(items.front());
  for (const std::string& item : items) {
    if (Parent(item) != folder || folder.empty()) {
      throw Failure(kUsage, "zip: the items must be in one folder below a share root");
    }
  }
  // The archive is made in the items' folder; it may be named alone or with that folder.
  const std::string& given = options.paths.front();
  const std::string archive =
      given.find('/') == std::string::npos ? Join(folder, given) : DevicePath(given);
  if (Parent(archive) != folder) {
    throw Failure(kUsage, "zip: the archive is made in the folder of the items, " + folder);
  }
  const std::string format = !options.format.empty()                          ? options.format
                             : archive.size() > 3 && archive.ends_with(".7z") ? std::string("7z")
                                                                              : std::string("zip");
  std::string password;
  if (!options.encryption.empty()) password = ReadSecret(kPasswordVariable, "archive password: ");

  auto session = Connect(globals, Session::kFiles);
  std::vector<std::wstring> names;
  for (const std::string& item : items) {
    if (!StatusOf(*session, item)) throw Failure(kFailed, item + ": no such file or folder");
    names.push_back(Wide(Name(item)));
  }
  std::vector<const wchar_t*> pointers;
  for (const auto& name : names) pointers.push_back(name.c_str());
  RunArchiveJob(*session, Op::Compress, archive, "zip " + Name(archive), [&](Progress& progress) {
    return session->Files().CompressFile(
        Wide(Name(archive)).c_str(), Wide(folder).c_str(), static_cast<int>(pointers.size()),
        pointers, Choice(format, {"zip", "7z"}), Wide(password).c_str(),
        Choice(options.level, {"normal", "large", "fast"}),
        Choice(options.encryption, {"aes256", "zipcrypto"}), options.force ? kReplace : kRefuse,
        CancelFlag(), &progress, &Progress::Report);
  });
  return kOk;
}

int RunUnzip(const Globals& globals, const UnzipOptions& options) {
  const std::string archive = DevicePath(options.archive);
  auto session = Connect(globals, Session::kFiles);
  if (options.list) {
    std::vector<CVeskHttpExtractEntry> entries;
    for (int start = 0;; start += kPage) {
      const std::size_t before = entries.size();
      session->Run(Op::ExtractList, archive, [&] {
        return session->Files().GetExtractList(Wide(archive).c_str(), start, kPage, CancelFlag(),
                                               &entries);
      });
      if (entries.size() - before < static_cast<std::size_t>(kPage)) break;
    }
    Json::Value all(Json::arrayValue);
    Table table({1, 2});
    for (const auto& entry : entries) {
      const std::string name = Utf8(entry.GetFileName());
      if (globals.json) {
        Json::Value value = ItemJson(name, entry.IsDir() != 0, entry.GetFileSize());
        value["compressedSize"] = Json::Int64(entry.GetCompressFileSize());
        value["modified"] = Utf8(entry.GetModifyTime());
        all.append(value);
      } else {
        table.Add({entry.IsDir() ? "d" : "-", std::to_string(entry.GetFileSize()),
                   std::to_string(entry.GetCompressFileSize()), Utf8(entry.GetModifyTime()), name});
      }
    }
    if (globals.json) {
      PrintJson(all);
    } else {
      table.Print();
    }
    return kOk;
  }

  const std::string destination =
      options.destination.empty() ? Parent(archive) : DevicePath(options.destination);
  const char* password = std::getenv(kPasswordVariable);
  std::vector<std::wstring> names;
  for (const std::string& name : options.only) names.push_back(Wide(name));
  std::vector<const wchar_t*> pointers;
  for (const auto& name : names) pointers.push_back(name.c_str());
  RunArchiveJob(*session, Op::Extract, archive, "unzip " + Name(archive), [&](Progress& progress) {
    return session->Files().ExtractFile(Wide(archive).c_str(), Wide(destination).c_str(),
                                        Wide(password ? password : "").c_str(),
                                        pointers.empty() ? 0 : 1, static_cast<int>(pointers.size()),
                                        pointers, options.overwrite ? 1 : 0, options.flat ? 0 : 1,
                                        CancelFlag(), &progress, &Progress::Report);
  });
  return kOk;
}

}  // namespace

void RegisterZip(Registry& registry) {
  CLI::App* command = registry.Add("zip", "Compress items into an archive on the device",
                                   "  vesk zip /P/photos.zip /P/a.jpg /P/album\n"
                                   "The items are in one folder, and the archive is made there.");
  ZipOptions& options = registry.On(command, &RunZip);
  command->add_option("--format", options.format, "zip or 7z (default: by the archive's name)")
      ->check(CLI::IsMember({"zip", "7z"}));
  command->add_option("--level", options.level, "normal, large or fast")
      ->check(CLI::IsMember({"normal", "large", "fast"}));
  command
      ->add_option(
          "--encrypt", options.encryption,
          "aes256 or zipcrypto, with the password from\nVESK_ARCHIVE_PASSWORD or asked for")
      ->check(CLI::IsMember({"aes256", "zipcrypto"}));
  command->add_flag("-f,--force", options.force, "Replace an archive of that name");
  command->add_option("paths", options.paths, "The archive, then the items")->required();
}

void RegisterUnzip(Registry& registry) {
  CLI::App* command =
      registry.Add("unzip", "List or extract an archive on the device",
                   "An archive's password, if it has one, comes from VESK_ARCHIVE_PASSWORD.");
  UnzipOptions& options = registry.On(command, &RunUnzip);
  command->add_flag("-l,--list", options.list, "List the archive's entries");
  command->add_flag("-f,--force", options.overwrite, "Replace items that exist");
  command->add_flag("--flat", options.flat, "Drop the archive's folders");
  command->add_option("--only", options.only, "Extract only these entries");
  command->add_option("archive", options.archive, "Device archive")->required();
  command->add_option("destination", options.destination,
                      "Device folder (default: the archive's folder)");
}

}  // namespace vesk::cli
