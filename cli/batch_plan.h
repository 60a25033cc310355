// Which files a batch reads and the names of what it writes: every output
// gets a name of its own that is never one of the batch's inputs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace lq::cli {

// The inputs of a batch from its arguments: files as given, directories as
// their image files (sorted by name, earlier outputs named *_LQ.* left out).
// A file named twice is taken once. Unreadable directories go to `errors`.
std::vector<std::string> CollectBatchInputs(const std::vector<std::string>& args, std::vector<std::string>* errors);

struct TBatchItem {
  std::string input;
  std::string output;
  bool renamed = false;  // the usual name was taken by an input or another output
};

// name + "_LQ" + lower-case extension (".png" for formats that are not
// written), beside the input or in outDir when given. When that name is one
// of the inputs or already given to an earlier item, "_LQ_2", "_LQ_3", ...
// are tried in turn. The same inputs always give the same names.
std::vector<TBatchItem> PlanOutputs(const std::vector<std::string>& inputs, const std::string& outDir = "");

// "K/N": this machine's share of the batch, every N-th file starting at K
// (counting from 0).
struct TShard {
  size_t index = 0;
  size_t count = 1;
};
bool ParseShard(const std::string& text, TShard& shard, std::string* error);
// Positions of the items of this shard among n.
std::vector<size_t> ShardPositions(size_t n, TShard shard);

}  // namespace lq::cli
