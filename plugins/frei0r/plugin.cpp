// The frei0r entry points: a filter of BGRA words whose parameters are, in
// the order ffmpeg sets them by position, the script, the sandbox, what to do
// on an error, eight values the script reads as arg[1] .. arg[8], and the
// script again under the name MLT resolves in a project. Each call hands over
// to a ScriptInstance; nothing here throws into the host, which is C.
#include <cstdint>
#include <mutex>
#include <new>

// frei0r.h declares the f0r_* functions without extern "C"; declared visible
// here, they are the plugin's only exports (exports.map hides everything else).
#pragma GCC visibility push(default)
extern "C" {
#include <frei0r.h>
}
#pragma GCC visibility pop

#include "caller.hpp"
#include "script_instance.hpp"

namespace {

using pelx04frei0r::ScriptInstance;
using pelx04frei0r::scriptValueCount;

// Positions are the interface (ffmpeg and MLT set parameters by them): new
// ones go at the end.
enum Param {
    paramScript = 0,
    paramSandbox = 1,
    paramOnError = 2,
    paramFirstValue = 3,
    paramFilename = paramFirstValue + scriptValueCount,
    paramCount
};

const f0r_param_info_t params[paramCount] = {
    {"script", F0R_PARAM_STRING, "Path of the Lua script run on every frame"},
    {"sandbox", F0R_PARAM_BOOL,
     "Run the script in the sandbox, without io, os and the rest (the instruction and memory limits apply "
     "either way)"},
    {"on_error", F0R_PARAM_STRING,
     "After a script error: mark (a red band over the input), pass (the input unchanged) or stop (exit 1)"},
    {"value1", F0R_PARAM_DOUBLE, "A value for the script, 0 to 1: arg[1]"},
    {"value2", F0R_PARAM_DOUBLE, "A value for the script, 0 to 1: arg[2]"},
    {"value3", F0R_PARAM_DOUBLE, "A value for the script, 0 to 1: arg[3]"},
    {"value4", F0R_PARAM_DOUBLE, "A value for the script, 0 to 1: arg[4]"},
    {"value5", F0R_PARAM_DOUBLE, "A value for the script, 0 to 1: arg[5]"},
    {"value6", F0R_PARAM_DOUBLE, "A value for the script, 0 to 1: arg[6]"},
    {"value7", F0R_PARAM_DOUBLE, "A value for the script, 0 to 1: arg[7]"},
    {"value8", F0R_PARAM_DOUBLE, "A value for the script, 0 to 1: arg[8]"},
    {"filename", F0R_PARAM_STRING,
     "Path of the Lua script, in place of script when set (MLT resolves it against a project's folder)"},
};

}  // namespace

extern "C" {

// Hosts may call init and deinit several times in a process, or deinit never:
// nothing is kept between them.
int f0r_init() { return 1; }

void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    info->name = "pelx04";
    info->author = "pelx04";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_BGRA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = paramCount;
    info->explanation = "Runs a pelx04 Lua script on every frame";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (index < 0 || index >= paramCount) return;
    *info = params[index];
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    try {
        return new ScriptInstance(width, height);
    } catch (...) {
        return nullptr;
    }
}

void f0r_destruct(f0r_instance_t instance) { delete static_cast<ScriptInstance*>(instance); }

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    ScriptInstance* self = static_cast<ScriptInstance*>(instance);
    if (self == nullptr || param == nullptr) return;
    std::lock_guard<std::mutex> hold(self->callLock());
    try {
        switch (index) {
        case paramScript: self->setScript(*static_cast<f0r_param_string*>(param)); break;
        case paramSandbox: self->setSandbox(*static_cast<f0r_param_bool*>(param) >= 0.5); break;
        case paramOnError: self->setOnError(*static_cast<f0r_param_string*>(param)); break;
        case paramFilename: self->setFilename(*static_cast<f0r_param_string*>(param)); break;
        default:
            if (index >= paramFirstValue && index < paramFilename) {
                self->setValue(index - paramFirstValue, *static_cast<f0r_param_double*>(param));
            }
            break;
        }
    } catch (...) {
        // Out of memory for a string: the parameter keeps its old value.
    }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    ScriptInstance* self = static_cast<ScriptInstance*>(instance);
    if (self == nullptr || param == nullptr) return;
    std::lock_guard<std::mutex> hold(self->callLock());
    switch (index) {
    case paramScript:
        // The host copies or only reads it.
        *static_cast<f0r_param_string*>(param) = const_cast<char*>(self->script().c_str());
        break;
    case paramSandbox: *static_cast<f0r_param_bool*>(param) = self->sandbox() ? 1.0 : 0.0; break;
    case paramOnError:
        *static_cast<f0r_param_string*>(param) = const_cast<char*>(self->onErrorName().c_str());
        break;
    case paramFilename:
        *static_cast<f0r_param_string*>(param) = const_cast<char*>(self->filename().c_str());
        break;
    default:
        if (index >= paramFirstValue && index < paramFilename) {
            *static_cast<f0r_param_double*>(param) = self->value(index - paramFirstValue);
        }
        break;
    }
}

void f0r_update(f0r_instance_t instance, double time, const std::uint32_t* inframe, std::uint32_t* outframe) {
    ScriptInstance* self = static_cast<ScriptInstance*>(instance);
    if (self == nullptr || inframe == nullptr || outframe == nullptr) return;
    std::lock_guard<std::mutex> hold(self->callLock());
    if (!self->callerKnown()) self->setCaller(pelx04frei0r::identifyCaller(__builtin_return_address(0)));
    try {
        self->update(time, inframe, outframe);
    } catch (...) {
        // Only an allocation (of a message) can throw.
        self->failForLackOfMemory(inframe, outframe);
    }
}

}  // extern "C"
