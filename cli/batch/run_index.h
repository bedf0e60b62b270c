// The index of a batch run: one self-contained index.html and a
// summary.tsv in the run's folder, with a row per tape of the manifest. The
// exit code is the final word on the run: 0 only when every tape is done.
#ifndef VELVANE_CLI_BATCH_RUN_INDEX_H
#define VELVANE_CLI_BATCH_RUN_INDEX_H

#include <string>
#include <vector>

#include "batch.h"
#include "manifest.h"

namespace velvane {
namespace batch {

struct IndexRequest {
    const Manifest *manifest = nullptr;
    std::vector<std::string> common;
    std::string out;
    std::string container = "mkv";
    bool verify = false; // recompute each master's MD5
};

// Writes both files; returns 0 when every tape is done, 1 otherwise.
int writeRunIndex(const Host &host, const IndexRequest &r);

} // namespace batch
} // namespace velvane

#endif
