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

}  // namespace

bool namesFolder(const std::string& path) {
    std::error_code ec;
    return (!path.empty() && path.back() == '/') || fs::is_directory(path, ec);
}

bool readInputList(const std::string& listPath, std::vector<std::string>& inputs, std::string& error) {
    std::ifstream list(listPath);
    if (!list) {
        error = "cannot read the list '" + listPath + "'";
        return false;
    }
    std::string line;
    while (std::getline(list, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) inputs.push_back(line);
    }
    if (list.bad()) {
        error = "cannot read the list '" + listPath + "'";
        return false;
    }
    return true;
}

bool planBatch(const std::vector<std::string>& inputs, const std::string& outputFolder, BatchPlan& plan,
               std::string& error) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (const std::string& input : inputs) {
        if (fs::is_directory(input, ec)) {
            if (!expandFolder(input, files, plan.ignored, error)) return false;
        } else {
            files.emplace_back(input);
        }
    }
    std::map<std::string, std::string> inputOf;  // output identity -> the input that claims it
    std::map<std::string, std::string> inputIdentities;
    for (const fs::path& file : files) inputIdentities.emplace(identity(file), file.string());
    for (const fs::path& file : files) {
        const std::string extension = lowerExtension(file.string());
        const std::string name = file.stem().string() + "." + (writesContainer(extension) ? extension : "mkv");
        if (file.filename().empty() || name.find('%') != std::string::npos) {
            error = "'" + file.string() + "' cannot be named in a batch (image sequences run one at a time)";
            return false;
        }
        const std::string output = (fs::path(outputFolder) / name).string();
        const std::string key = identity(output);
        const auto same = inputOf.find(key);
        if (same != inputOf.end()) {
            error = "'" + same->second + "' and '" + file.string() + "' would both be written to '" + output + "'";
            return false;
        }
        const auto clobbered = inputIdentities.find(key);
        if (clobbered != inputIdentities.end()) {
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
