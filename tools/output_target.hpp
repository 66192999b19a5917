// OUTPUT as the runner writes it: one file through a temporary renamed into
// place (OutputFile), or an image sequence whose files FFmpeg's image muxer
// writes one by one; and the checks made before either is touched.
#pragma once

#include <string>
#include <vector>

#include "output_file.hpp"

namespace pelx04run {

// Refuses an OUTPUT that would write over one of INPUT's files while they are
// read: the same file, or a sequence whose names for the frame numbers it
// would write (from 1, as FFmpeg's image muxer counts, up to `frames` or the
// input sequence's length) reach an input file. Files are compared by device
// and inode, so seq/f_%d.png and seq/f_%03d.png clash from f_100.png on, and
// a link or another spelling of the path is seen through.
bool checkOutputSparesInput(const std::string& input, const std::string& output, long long frames,
                            std::string& error);

class OutputTarget {
public:
    OutputTarget() = default;
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;
    ~OutputTarget() { abandon(); }

    // Refuses a container the runner does not write before anything is
    // made; then creates OUTPUT's missing folders and, for one file, its
    // temporary.
    bool open(const std::string& path, std::string& error);
    // The temporary's descriptor, or -1 for an image sequence.
    int fd() const { return sequence_ ? -1 : file_.fd(); }
    bool commit(std::string& error);
    // Removes the temporary and the folders open() created, once empty (as
    // a signal that ends the run does).
    void abandon();

private:
    void removeCreatedFolders();

    OutputFile file_;
    std::vector<std::string> createdFolders_;  // outermost first
    int folderRecord_ = -1;                    // for removal when a signal ends the run
    bool sequence_ = false;
};

}  // namespace pelx04run
