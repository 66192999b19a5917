#include "caller.hpp"

#include <cmath>
#include <cstring>

#include <dlfcn.h>

namespace pelx04frei0r {
namespace {

// The first libavfilter whose frei0r filter copies into packed rows.
constexpr unsigned firstPackedMajor = 10;

unsigned libavfilterVersion(const char* file) {
    void* library = ::dlopen(file, RTLD_LAZY | RTLD_NOLOAD);
    if (library == nullptr) return 0;
    unsigned version = 0;
    void* symbol = ::dlsym(library, "avfilter_version");
    if (symbol != nullptr) {
        unsigned (*avfilterVersion)() = nullptr;
        static_assert(sizeof symbol == sizeof avfilterVersion, "function and object pointers differ in size");
        std::memcpy(&avfilterVersion, &symbol, sizeof symbol);
        version = avfilterVersion();
    }
    ::dlclose(library);
    return version;
}

}  // namespace

Caller identifyCaller(const void* returnAddress) {
    Caller caller;
    Dl_info info;
    if (::dladdr(returnAddress, &info) == 0 || info.dli_fname == nullptr) return caller;
    const char* slash = std::strrchr(info.dli_fname, '/');
    const char* name = slash != nullptr ? slash + 1 : info.dli_fname;
    if (std::strncmp(name, "libavfilter.so", std::strlen("libavfilter.so")) != 0) return caller;
    caller.isLibavfilter = true;
    caller.libavfilterVersion = libavfilterVersion(info.dli_fname);
    return caller;
}

double secondsFromHostTime(const Caller& caller, double time) {
    // ffmpeg passes a frame without a timestamp as a huge negative time.
    if (!std::isfinite(time) || time < 0) return -1;
    return caller.isLibavfilter ? time / 1000 : time;
}

bool callerPadsRows(const Caller& caller, unsigned width) {
    // A version that cannot be read is taken as one that pads.
    return caller.isLibavfilter && (caller.libavfilterVersion >> 16) < firstPackedMajor && width % 16 != 0;
}

}  // namespace pelx04frei0r
