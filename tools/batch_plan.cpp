#include "batch_plan.hpp"

#include "media_formats.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

namespace pelx04run {
namespace {

namespace fs = std::filesystem;

// The path a job is compared by: absolute, with what exists of it resolved.
std::string identity(const fs::path& path) {
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return (ec ? fs::absolute(path, ec).lexically_normal() : resolved).string();
}

// identity(file), with its folder resolved once for all the files in it: a
// list may name 100,000 files.
std::string fileIdentity(const fs::path& file, std::map<fs::path, fs::path>& folders) {
    std::error_code ec;
    if (fs::is_symlink(file, ec)) return identity(file);
    const fs::path parent = file.has_parent_path() ? file.parent_path() : fs::path(".");
    auto folder = folders.find(parent);
    if (folder == folders.end()) folder = folders.emplace(parent, identity(parent)).first;
    return (folder->second / file.filename()).lexically_normal().string();
}

bool expandFolder(const fs::path& folder, std::vector<fs::path>& files, std::vector<std::string>& ignored,
                  std::string& error) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    if (ec) {
        error = "cannot read the folder '" + folder.string() + "': " + ec.message();
        return false;
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        if (fs::is_regular_file(entry, ec) && readsExtension(lowerExtension(entry.string()))) {
            files.push_back(entry);
        } else {
            ignored.push_back(entry.string() + (fs::is_directory(entry, ec) ? "/" : ""));
        }
    }
    return true;
}

// OUTDIR/<this>: the base name, with the input's extension when the runner
// writes that container, .mkv otherwise.
std::string outputName(const fs::path& file) {
    const std::string extension = lowerExtension(file.string());
    return file.stem().string() + "." + (writesContainer(extension) ? extension : "mkv");
}

}  // namespace

bool namesFolder(const std::string& path) {
    std::error_code ec;
    return (!path.empty() && path.back() == '/') || fs::is_directory(path, ec);
}

bool readInputList(const std::string& listPath, std::vector<std::string>& inputs, std::string& error) {
    std::ifstream list(listPath, std::ios::binary);
    if (!list) {
        error = "cannot read the list '" + listPath + "'";
        return false;
    }
    std::string line;
    for (long long number = 1; std::getline(list, line); ++number) {
        // An editor's byte-order mark is no part of the first name.
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A path ends at a NUL: what follows would be another file's name.
        if (line.find('\0') != std::string::npos) {
            error = "line " + std::to_string(number) + " of the list '" + listPath + "' holds a NUL byte";
            return false;
        }
        if (line.find_first_not_of(" \t") != std::string::npos) inputs.push_back(line);
    }
    if (list.bad()) {
        error = "cannot read the list '" + listPath + "'";
        return false;
    }
    return true;
}

bool planBatch(const std::vector<std::string>& inputs, const std::string& outputFolder, bool overwrite,
               BatchPlan& plan, std::string& error) {
    std::error_code ec;
    std::vector<fs::path> files;
    std::vector<bool> fromFolder;
    for (const std::string& input : inputs) {
        const bool folder = fs::is_directory(input, ec);
        if (folder) {
            if (!expandFolder(input, files, plan.ignored, error)) return false;
        } else {
            files.emplace_back(input);
        }
        fromFolder.resize(files.size(), folder);
    }
    // Outputs are compared within their folder, resolved once: the rename
    // that puts one in place replaces a link of that name, not its target.
    const fs::path folderIdentity = identity(outputFolder);
    std::vector<std::string> outputs;
    std::vector<std::string> outputIdentities;
    std::vector<std::string> inputIdentities;
    std::map<fs::path, fs::path> folderIdentities;
    for (const fs::path& file : files) {
        outputs.push_back((fs::path(outputFolder) / outputName(file)).string());
        outputIdentities.push_back((folderIdentity / outputName(file)).string());
        inputIdentities.push_back(fileIdentity(file, folderIdentities));
    }
    // A batch run again into its own input folder finds its earlier outputs
    // there: they are left out as inputs, so that it resumes. Not with
    // --overwrite, which would replace them, when they may be the user's own
    // files of those names.
    std::map<std::string, std::size_t> claimedBy;  // output identity -> the input that claims it
    for (std::size_t i = 0; i < files.size(); ++i) claimedBy.emplace(outputIdentities[i], i);
    std::vector<bool> leftOut(files.size(), false);
    for (std::size_t i = 0; i < files.size() && !overwrite; ++i) {
        const auto claim = claimedBy.find(inputIdentities[i]);
        leftOut[i] = fromFolder[i] && claim != claimedBy.end() && claim->second != i;
    }
    std::map<std::string, std::string> inputOf;  // output identity -> the input that claims it
    std::map<std::string, std::string> inputNamed;  // input identity -> the input
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!leftOut[i]) inputNamed.emplace(inputIdentities[i], files[i].string());
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (leftOut[i]) continue;
        const fs::path& file = files[i];
        const std::string& output = outputs[i];
        if (file.filename().empty() || outputName(file).find('%') != std::string::npos) {
            error = "'" + file.string() + "' cannot be named in a batch (image sequences run one at a time)";
            return false;
        }
        const std::string& key = outputIdentities[i];
        const auto same = inputOf.find(key);
        if (same != inputOf.end()) {
            error = "'" + same->second + "' and '" + file.string() + "' would both be written to '" + output + "'";
            return false;
        }
        const auto clobbered = inputNamed.find(key);
        if (clobbered != inputNamed.end()) {
            error = "the output '" + output + "' would replace the input '" + clobbered->second + "'";
            return false;
        }
        inputOf.emplace(key, file.string());
        plan.jobs.push_back({file.string(), output});
    }
    if (plan.jobs.empty()) {
        error = "no input the runner reads";
        return false;
    }
    return true;
}

}  // namespace pelx04run
