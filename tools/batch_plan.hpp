// Which output each input of a batch gets, decided before anything runs:
// folders expanded, names derived, clashes refused.
#pragma once

#include <string>
#include <vector>

namespace pelx04run {

struct BatchJob {
    std::string input;
    std::string output;
};

struct BatchPlan {
    std::vector<BatchJob> jobs;
    std::vector<std::string> ignored;  // files of a named folder that are not media the runner reads
};

// True when `path` names a folder, or ends in '/' as a folder yet to be made.
bool namesFolder(const std::string& path);

// The inputs of a list file: one path a line, blank lines skipped, a CR
// before the newline and a leading byte-order mark dropped; a NUL is an error.
bool readInputList(const std::string& listPath, std::vector<std::string>& inputs, std::string& error);

// Each input (a file, or a folder standing for its media files in name order)
// becomes a job writing OUTDIR/<base name>.<extension>: the input's extension
// when the runner writes that container, .mkv otherwise. Two jobs with one
// output, or an output that is one of the inputs, is an error. A folder's
// files that are the outputs of its other files (a batch run again into its
// input folder) are left out, unless `overwrite`.
bool planBatch(const std::vector<std::string>& inputs, const std::string& outputFolder, bool overwrite,
               BatchPlan& plan, std::string& error);

}  // namespace pelx04run
