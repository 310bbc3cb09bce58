// Standard output: plain lines and aligned tables for people, JSON (--json) for programs.
#ifndef VESK_TOOLS_OUTPUT_H
#define VESK_TOOLS_OUTPUT_H

#include <json/json.h>

#include <string>
#include <vector>

namespace vesk::cli {

// Prints a JSON document (UTF-8, indented) and a line break.
void PrintJson(const Json::Value& value);

// Prints one line.
void PrintLine(const std::string& line);

// A device item as the JSON output shows it: its name, type ("folder" or "file") and size;
// commands add what else they know of it.
Json::Value ItemJson(const std::string& name, bool isFolder, long long size);

// Rows of cells printed with the columns aligned (the last column is not padded); columns
// listed in rightAligned are padded on the left.
class Table {
 public:
  explicit Table(std::vector<std::size_t> rightAligned = {});
  void Add(std::vector<std::string> row);
  void Print() const;

 private:
  std::vector<std::size_t> rightAligned_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace vesk::cli

#endif  // VESK_TOOLS_OUTPUT_H
