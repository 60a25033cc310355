#include <fmt/core.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "document/codec.h"
#include "resources/overview_sheet.h"
#include "resources/repository.h"

namespace lq::cli {

namespace {

int ListPictures() {
  const ResourceRepository& repo = Repository();
  for (const std::string& name : repo.PictureNames()) {
    auto [w, h] = repo.PictureSize(name);
    if (w > 0)
      fmt::print("{:<26} {:>5} x {}\n", name, w, h);
    else
      fmt::print("{:<26} missing\n", name);
  }
  return 0;
}

// Written beside the target first and renamed, so a failed write never
// leaves a truncated file behind.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  std::string tmp = path + ".part";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    *error = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (std::fflush(f) == 0) && ok;
  if (!ok) *error = std::strerror(errno);
  std::fclose(f);
  if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = std::strerror(errno);
    ok = false;
  }
  if (!ok) std::remove(tmp.c_str());
  return ok;
}

int WriteSheet(const std::string& path) {
  Image sheet = MakeOverviewSheet(Repository());
  std::vector<uint8_t> png = EncodePng(sheet);
  if (png.empty()) {
    fmt::print(stderr, "lumaquill-cli: could not make the overview sheet\n");
    return 1;
  }
  std::string error;
  if (!WriteFileAtomically(path, png, &error)) {
    fmt::print(stderr, "lumaquill-cli: cannot write {}: {}\n", path, error);
    return 1;
  }
  fmt::print("{} ({} x {})\n", path, sheet.width(), sheet.height());
  return 0;
}

}  // namespace

void AddResourcesCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand("resources", "List the embedded pictures with their sizes, or draw them on one sheet");
  static std::string sheet;
  cmd->add_option("--sheet", sheet, "Write an overview sheet of every picture to this PNG file");
  cmd->callback([&status] { status = sheet.empty() ? ListPictures() : WriteSheet(sheet); });
}

}  // namespace lq::cli
