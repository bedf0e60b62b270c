// The manifest of a batch: a plain tab-separated table with a header line,
// one row per tape: its id, its input and, optionally, options of the
// velvane command for that tape alone.
//
//   id<TAB>input<TAB>options
//   tape-0001<TAB>/archive/capture/0001.dv<TAB>--strength auto
//
// Blank lines and lines starting with '#' are ignored. An input that is not
// absolute is relative to the manifest's folder. Rows are numbered from 0 in
// the order they stand (the index of `batch run --index`).
#ifndef VELVANE_CLI_BATCH_MANIFEST_H
#define VELVANE_CLI_BATCH_MANIFEST_H

#include <string>
#include <vector>

#include "velvane/filter.h"

namespace velvane {
namespace batch {

struct ManifestRow {
    int line = 0;           // in the file, from 1
    std::string id;
    std::string input;      // as written
    std::string inputPath;  // resolved against the manifest's folder
    std::string options;    // as written
    std::vector<std::string> words; // the options split as a shell would
};

struct Manifest {
    std::string path;
    std::string md5;        // of the file's bytes
    std::vector<ManifestRow> rows;

    // "manifest.tsv line 4 (tape-0003)", for messages.
    std::string where(const ManifestRow &r) const;
    // The row of an id, or null.
    const ManifestRow *find(const std::string &id) const;
};

// Reads and checks the table's form: the header, the columns, ids (unique,
// made of letters, digits, '.', '_' and '-', not starting with '.' or '-'),
// and the options' quoting. Throws CliError naming the line of the first fault.
Manifest readManifest(const std::string &path);

// Checks what a row asks for before any job runs: its input exists and is a
// readable file, and the command takes its options (after `common`, which
// every row gets first) with the input and a master. Throws CliError naming
// the row.
void checkRow(const Manifest &m, const ManifestRow &r, const std::vector<std::string> &common,
              const FilterDescriptor &fd);

// Options a batch sets itself, refused in a manifest: what the batch names
// (the master, the report page) and what would leave no master.
// Returns a message, or empty when the words are fine.
std::string refusedOption(const std::vector<std::string> &words);

// Splits text into words as a shell would: blanks separate, quotes ('...'
// and "...") and backslashes keep them. Throws CliError on an open quote.
std::vector<std::string> splitWords(const std::string &text);
// The words joined again, each quoted where a shell would need it.
std::string joinWords(const std::vector<std::string> &words);

// Characters an id may hold.
bool validId(const std::string &id);

} // namespace batch
} // namespace velvane

#endif
