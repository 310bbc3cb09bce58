// vesk transcode add and rm: queue device videos for transcoding, or remove their transcoded
// copies.
#include "CommandSupport.h"
#include "Interrupt.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

struct TranscodeOptions {
  bool add = false;  // queue; otherwise remove the transcoded copies
  std::vector<std::string> paths;
};

int RunTranscode(const Globals& globals, const TranscodeOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  Items items;
  for (const std::string& given : options.paths) {
    items.Run([&] {
      const std::string path = DevicePath(given);
      if (!StatusOf(*session, path)) throw Failure(kFailed, path + ": no such file or folder");
      session->Run(options.add ? Op::TranscodeAdd : Op::TranscodeDelete, path, [&] {
        return options.add
                   ? session->Files().AddVideoTranscode(Wide(path).c_str(), CancelFlag())
                   : session->Files().DeleteVideoTranscode(Wide(path).c_str(), CancelFlag());
      });
    });
  }
  return items.Status();
}

}  // namespace

void RegisterTranscode(Registry& registry) {
  CLI::App* transcode = registry.Add("transcode", "Queue or remove video transcoding");
  transcode->require_subcommand(1);
  for (const char* which : {"add", "rm"}) {
    const bool add = std::string(which) == "add";
    CLI::App* command =
        registry.Add(*transcode, which,
                     add ? "Queue videos for transcoding" : "Remove videos' transcoded copies");
    TranscodeOptions& options = registry.On(command, &RunTranscode);
    options.add = add;
    command->add_option("paths", options.paths, "Device video files")->required();
  }
}

}  // namespace vesk::cli
