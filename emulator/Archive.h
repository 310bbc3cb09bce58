// Archives on the device's disk, read and written with libarchive: the entries of an archive,
// compression of items into a zip or 7z archive, and extraction of an archive's entries into a
// folder. ArchiveService.cpp serves them; FileTree.h resolves the paths they are given.
//
// Entry names are UTF-8 whatever the process locale. An entry name is taken apart at "/";
// empty and "." components are skipped, and a name that is absolute, holds a ".." component,
// a backslash or a component longer than 255 bytes is unsafe: it is listed as the archive has
// it, and an extraction that selects it is refused (kNotAllowed). An entry that names the
// archive's top itself ("./") is left out.
#ifndef VESK_EMULATOR_ARCHIVE_H
#define VESK_EMULATOR_ARCHIVE_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "emulator/FileTree.h"

namespace vesk::emulator {

// An archive to read.
struct ArchiveSource {
  std::filesystem::path file;  // the real file
  std::string password;        // for encrypted entries; empty: none
  // The character set of entry names in zip archives that do not mark their names as UTF-8;
  // empty or "UTF-8": UTF-8.
  std::string codePage;
};

// An entry as listings show it.
struct ArchiveEntryInfo {
  std::string name;  // its path inside the archive, "/"-separated, without a trailing "/"
  bool folder = false;
  std::uint64_t size = 0;
  // The bytes it takes in the archive, estimated: entries of zip and 7z archives share
  // compressed blocks and headers, so the archive's size is shared out by entry size.
  std::uint64_t packedSize = 0;
  long long mtime = 0;  // seconds since 1970
};

// The entries of an archive in archive order, followed by the folders that entry paths imply
// but the archive does not hold as entries. Throws Refusal(kNotAllowed) for a file that is not
// an archive (zip, 7z, rar, tar, also compressed) or cannot be read through.
std::vector<ArchiveEntryInfo> ListArchive(const ArchiveSource& source);

enum class ArchiveFormat { Zip, SevenZip };
// Zip: deflate at levels 1, 6 and 9. 7z: LZMA at presets 1, 5 and 7 (the larger presets need
// hundreds of MiB of memory per job).
enum class ArchiveLevel { Fast, Normal, Large };
enum class ZipEncryption { None, ZipCrypto, Aes256 };

// What a compression does with an archive that exists where it is to go.
enum class UpdateMode {
  Replace,  // a new archive takes its place
  Create,   // refused (kExists): only a new archive is made
  Add,      // its entries are kept, and items replace entries of the same path
  Update,   // as Add, but an item replaces an entry only when it is newer; older items are left
};

struct CompressJob {
  std::filesystem::path folder;  // the real folder of the items, where the archive goes too
  std::vector<TreeItem> items;   // items of folder; folders are archived with all they hold
  std::string archiveName;
  ArchiveFormat format = ArchiveFormat::Zip;
  ArchiveLevel level = ArchiveLevel::Normal;
  ZipEncryption encryption = ZipEncryption::None;  // zip only
  std::string password;                            // with encryption
  UpdateMode mode = UpdateMode::Replace;
  // Add and Update with an archive in place: its real file, read with password.
  std::optional<std::filesystem::path> existing;
};

// Writes the archive into a temporary file in job.folder, which takes the archive's name only
// once it is whole: a failed or stopped compression leaves nothing behind (a 7z one stopped in
// the middle of a file first fills that file's rest with zeros, which libarchive needs to
// let go of the archive). Items are archived as they are on disk, symlinks as links (never
// followed), other special files left out. Throws Refusal when it fails and WorkStopped when
// progress says to stop.
void Compress(const CompressJob& job, Progress& progress);

struct ExtractJob {
  ArchiveSource source;
  std::filesystem::path destination;  // a real folder
  std::vector<std::string> parts;     // names as listed; a folder selects all it holds; empty: all
  bool overwrite = false;
  bool flatten = false;     // files and links go straight into destination, folders are not made
  std::uint64_t units = 0;  // the work planned, set by CheckExtract
};

// The checks an extraction passes before its job starts, reading the archive's headers (and
// the first encrypted entry's data, to try the password); sets job.units. Throws Refusal:
//  - kNotAllowed: not an archive, unreadable, a wrong or missing password, or a selected entry
//    whose name is unsafe;
//  - kMissing: a part that names no entry;
//  - kExists: an entry whose place is taken: a file or link where a folder is (a folder is
//    never replaced), or without overwrite any existing file or link (folders merge).
void CheckExtract(ExtractJob& job);

// Extracts the selected entries into a hidden folder (".vesk-extract-XXXXXX") in destination
// and, once every entry is out, moves them into place (files and links replaced with
// overwrite, folders merged). A failed or stopped extraction removes that folder and leaves
// the destination as it was; only a failure while moving into place (a place taken meanwhile)
// leaves what was placed before it. Nothing is ever written through a symlink; link entries are
// made only when their target is relative and stays inside the destination, others are left
// out, and so are hard links and special files. Throws Refusal when it fails and WorkStopped
// when progress says to stop.
void Extract(const ExtractJob& job, Progress& progress);

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_ARCHIVE_H
