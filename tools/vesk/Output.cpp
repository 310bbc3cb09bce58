#include "Output.h"

#include <algorithm>
#include <cstdio>

namespace vesk::cli {

namespace {

std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

void PrintJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  builder["emitUTF8"] = true;
  const std::string text = Json::writeString(builder, value);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

Json::Value ItemJson(const std::string& name, bool isFolder, long long size) {
  Json::Value value(Json::objectValue);
  value["name"] = name;
  value["type"] = isFolder ? "folder" : "file";
  value["size"] = Json::Int64(size);
  return value;
}

Table::Table(std::vector<std::size_t> rightAligned) : rightAligned_(std::move(rightAligned)) {}

void Table::Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }

void Table::Print() const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  }
  for (const auto& row : rows_) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const bool last = i + 1 == row.size();
      const std::string padding(widths[i] - Width(row[i]), ' ');
      const bool right =
          std::find(rightAligned_.begin(), rightAligned_.end(), i) != rightAligned_.end();
      if (right) line += padding;
      line += row[i];
      if (!right && !last) line += padding;
      if (!last) line += "  ";
    }
    PrintLine(line);
  }
}

}  // namespace vesk::cli
