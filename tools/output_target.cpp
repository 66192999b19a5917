#include "output_target.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "media_input.hpp"
#include "media_output.hpp"
#include "pending_cleanup.hpp"


namespace pelx04run {
namespace {

namespace fs = std::filesystem;

using FileId = std::pair<dev_t, ino_t>;

bool fileId(const std::string& path, FileId& id) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) return false;
    id = FileId(status.st_dev, status.st_ino);
    return true;
}

// The name a sequence gives frame `number`, or "" past what it can name.
std::string frameName(const std::string& pattern, long long number) {
    char name[PATH_MAX];
    if (number > INT_MAX) return "";
    const int named = av_get_frame_filename2(name, sizeof name, pattern.c_str(), static_cast<int>(number), 0);
    return named < 0 ? "" : name;
}

// The input's files: the one file, or a sequence as FFmpeg's image reader
// finds it: from the first of the numbers 0 to 4 that exists, while the
// numbers follow without a gap.
std::set<FileId> inputFiles(const std::string& input) {
    std::set<FileId> files;
    FileId id;
    if (!isFramePattern(input)) {
        if (fileId(input, id)) files.insert(id);
        return files;
    }
    long long number = 0;
    while (number < 5 && !fileId(frameName(input, number), id)) ++number;
    for (; number < INT_MAX && fileId(frameName(input, number), id); ++number) files.insert(id);
    return files;
}

}  // namespace

bool checkOutputSparesInput(const std::string& input, const std::string& output, long long frames,
                            std::string& error) {
    const std::set<FileId> inputs = inputFiles(input);
    if (inputs.empty()) return true;
    FileId id;
    if (!isImageSequence(output)) {
        if (!fileId(output, id) || inputs.count(id) == 0) return true;
        error = "the output '" + output + "' is the input file: write to another name";
        return false;
    }
    const long long count = std::max({frames, static_cast<long long>(inputs.size()), 1LL});
    for (long long number = 1; number <= count; ++number) {
        const std::string name = frameName(output, number);
        if (name.empty()) break;
        if (fileId(name, id) && inputs.count(id) != 0) {
            error = "the output '" + output + "' would write frame " + std::to_string(number) + " over '" + name +
                    "', an input file: write to another name or folder";
            return false;
        }
    }
    return true;
}

bool OutputTarget::open(const std::string& path, std::string& error) {
    if (!checkOutputContainer(path, error)) return false;
    sequence_ = isImageSequence(path);
    // OUTPUT's folder is made if missing (out/<script>.png needs no mkdir
    // first), and what was made is removed again if the run fails.
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path folder = fs::path(path).parent_path(); !folder.empty() && !fs::exists(folder, ec);
         folder = folder.parent_path()) {
        missing.push_back(folder);
        if (folder == folder.parent_path()) break;
    }
    std::reverse(missing.begin(), missing.end());
    for (const fs::path& folder : missing) {
        if (::mkdir(folder.c_str(), 0777) == 0) {
            createdFolders_.push_back(folder.string());
        } else if (errno != EEXIST) {
            error = "cannot create the folder " + folder.string() + " for " + path + ": " + std::strerror(errno);
            removeCreatedFolders();
            return false;
        }
    }
    if (!createdFolders_.empty()) {
        folderRecord_ = recordPendingFolders(createdFolders_.back(), static_cast<int>(createdFolders_.size()));
    }
    if (sequence_ || file_.open(path, error)) return true;
    removeCreatedFolders();
    return false;
}

bool OutputTarget::commit(std::string& error) {
    if (!sequence_ && !file_.commit(error)) {
        removeCreatedFolders();
        return false;
    }
    createdFolders_.clear();
    releasePending(folderRecord_);
    folderRecord_ = -1;
    return true;
}

void OutputTarget::abandon() {
    if (!sequence_) file_.abandon();
    removeCreatedFolders();
}

void OutputTarget::removeCreatedFolders() {
    // Innermost first; a folder that is not empty (a sequence's frames) stays.
    while (!createdFolders_.empty()) {
        ::rmdir(createdFolders_.back().c_str());
        createdFolders_.pop_back();
    }
    releasePending(folderRecord_);
    folderRecord_ = -1;
}

}  // namespace pelx04run
