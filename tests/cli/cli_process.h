// Running the built lumaquill-cli from the tests.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lq::test {

struct CliResult {
  int status = -1;
  std::string out, err;
};

inline std::string SlurpFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Runs lumaquill-cli with the arguments, each quoted, from workDir (the
// current folder when empty). Its output is caught in `.out` and `.err` in
// scratch, which are removed again.
inline CliResult RunCli(const std::vector<std::string>& args, const std::filesystem::path& scratch,
                        const std::filesystem::path& workDir = {}) {
  const std::filesystem::path out = scratch / ".out", err = scratch / ".err";
  std::string cmd = workDir.empty() ? std::string() : "cd '" + workDir.string() + "' && ";
  cmd += LQ_CLI_PATH;
  for (const std::string& a : args) cmd += " '" + a + "'";
  cmd += " >'" + out.string() + "' 2>'" + err.string() + "'";
  CliResult r;
  const int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = SlurpFile(out);
  r.err = SlurpFile(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

}  // namespace lq::test
