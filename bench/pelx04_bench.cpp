// Times every pixel function of pelx04 on a 1920 × 1080 test card, called the
// way scripts call it: through the registered Lua function in a real lua_State,
// with the frame as light userdata. Beside each: the memory floor (an in-place
// XOR over every word, and memcpy), the function's literal per-pixel pass, and
// OpenCV's nearest operation (one thread). After the run a summary table gives
// each function's time and its ratios to those, with the targets.
//
//   pelx04_bench [--level=portable|sse2|avx2|avx512] [Google Benchmark flags]
//
// --level caps the instruction set the library may use, to time each one.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <lua.hpp>

#ifdef PELX04_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "curves/histogram.hpp"
#include "curves/hsv_band_shift.hpp"
#include "curves/hsv_tone_curve.hpp"
#include "curves/tone_curve.hpp"
#include "curves/value_table.hpp"
#include "filters/channel_offset.hpp"
#include "filters/channel_swap.hpp"
#include "filters/gamma.hpp"
#include "filters/gradation.hpp"
#include "filters/grey.hpp"
#include "filters/hsv_posterize.hpp"
#include "filters/hsv_shift.hpp"
#include "filters/posterize.hpp"
#include "filters/ypbpr_adjust.hpp"
#include "core/cpu_features.hpp"
#include "core/pixel_pass.hpp"
#include "store/picture_blend.hpp"
#include "store/picture_store.hpp"

extern "C" int luaopen_pelx04(lua_State* L);

namespace {

using namespace pelx04;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr std::uint32_t kCount = kWidth * kHeight;

// Hue across, brightness ramps down, a grey ramp band, and bands of partial and
// zero alpha: every kind of pixel a filter branches on.
std::vector<std::uint32_t> makeTestCard() {
    std::vector<std::uint32_t> card(kCount);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double hue = 6.0 * x / kWidth, value = 1.0 - 0.8 * y / kHeight;
            const int sector = static_cast<int>(hue) % 6;
            const double f = hue - std::floor(hue);
            double rgb[3];
            const double up = value * f, down = value * (1.0 - f);
            switch (sector) {
                case 0: rgb[0] = value, rgb[1] = up, rgb[2] = 0; break;
                case 1: rgb[0] = down, rgb[1] = value, rgb[2] = 0; break;
                case 2: rgb[0] = 0, rgb[1] = value, rgb[2] = up; break;
                case 3: rgb[0] = 0, rgb[1] = down, rgb[2] = value; break;
                case 4: rgb[0] = up, rgb[1] = 0, rgb[2] = value; break;
                default: rgb[0] = value, rgb[1] = 0, rgb[2] = down; break;
            }
            int r = static_cast<int>(rgb[0] * 255.0 + 0.5), g = static_cast<int>(rgb[1] * 255.0 + 0.5),
                b = static_cast<int>(rgb[2] * 255.0 + 0.5);
            int a = 255;
            if (y >= 900 && y < 960) r = g = b = x * 256 / kWidth;
            if (y >= 960 && y < 1020) a = 1 + (x * 254) / kWidth;
            if (y >= 1020 || (x >= 1800 && (y / 30) % 2 == 0)) a = 0;
            card[static_cast<std::size_t>(y) * kWidth + x] = packWord(a, r, g, b);
        }
    }
    return card;
}

const std::vector<std::uint32_t>& testCard() {
    static const std::vector<std::uint32_t> card = makeTestCard();
    return card;
}

// The frame every benchmark works on, restored from the card before each
// iteration (outside the timing), so each call sees the card in cache.
std::vector<std::uint32_t> work(kCount);
unsigned char* workBytes() { return reinterpret_cast<unsigned char*>(work.data()); }

lua_State* L = nullptr;

void openLua() {
    L = luaL_newstate();
    lua_pushcfunction(L, luaopen_pelx04);
    lua_call(L, 0, 1);
    lua_setglobal(L, "lib");
}

// lib[name](frame, width, height, args...), results dropped.
void callFilter(const char* name, const std::vector<double>& args) {
    lua_getglobal(L, "lib");
    lua_getfield(L, -1, name);
    lua_pushlightuserdata(L, workBytes());
    lua_pushnumber(L, kWidth);
    lua_pushnumber(L, kHeight);
    for (double a : args) lua_pushnumber(L, a);
    lua_call(L, 3 + static_cast<int>(args.size()), 0);
    lua_settop(L, 0);
}

void callCVSave(double index, double value, double mode) {
    lua_getglobal(L, "lib");
    lua_getfield(L, -1, "mirtCVSave");
    lua_pushnumber(L, index);
    lua_pushnumber(L, value);
    lua_pushnumber(L, mode);
    lua_call(L, 3, 0);
    lua_settop(L, 0);
}

// A gentle S curve for the tone-curve functions.
void loadCurve() {
    for (int i = 0; i < 360; ++i) callCVSave(i, i < 256 ? static_cast<int>(20.0 * std::sin(i * 3.14159265 / 128.0)) : 0, 0);
}

// The blends mix the card with another picture, the card upside down, so that
// frame and store differ by every amount a cross-fade meets (a card blended
// with itself would only ever meet equal channels).
void storeFlippedCard() {
    for (int y = 0; y < kHeight; ++y) {
        std::memcpy(pictureStore + std::size_t(y) * kWidth,
                    testCard().data() + std::size_t(kHeight - 1 - y) * kWidth, kWidth * 4u);
    }
}

using Pass = std::function<void()>;

void timePass(benchmark::State& state, const Pass& pass, bool restore = true) {
    for (auto _ : state) {
        if (restore) {
            state.PauseTiming();
            std::memcpy(work.data(), testCard().data(), kCount * 4u);
            state.ResumeTiming();
        }
        pass();
        benchmark::ClobberMemory();
    }
}

// What a function is held to: the class decides the comparator and targets.
enum class Kind { channel, grey, colourModel, histogram, copy, blend, table };

struct Case {
    std::string label;     // the Lua name, and the mode where it has several
    const char* function;  // the Lua name
    std::vector<double> args;
    Kind kind;
    Pass literal;  // the literal per-pixel pass; empty for mirtCVSave
};

template <class Rule>
Pass literalPass(Rule rule) {
    return [rule] { rewriteVisiblePixels(workBytes(), kCount, rule); };
}

std::vector<Case> cases() {
    std::vector<Case> c;
    {
        const ChannelOffsetParams p{10, -20, 30, 0};
        c.push_back({"mirtRGB", "mirtRGB", {10, -20, 30, 0}, Kind::channel,
                     literalPass([p](std::uint32_t w) { return channelOffsetPixel(w, p); })});
    }
    c.push_back({"mirtCVSave", "mirtCVSave", {}, Kind::table, {}});
    for (int mode = 0; mode <= 7; ++mode) {
        const ToneCurveParams p{mode};
        c.push_back({"mirtToneCurve mode " + std::to_string(mode), "mirtToneCurve", {double(mode)},
                     Kind::channel,
                     literalPass([p](std::uint32_t w) { return toneCurvePixel(w, p); })});
    }
    for (int mode = 0; mode <= 2; ++mode) {
        const HsvToneCurveParams p{mode};
        c.push_back({"mirtToneCurveHSV mode " + std::to_string(mode), "mirtToneCurveHSV", {double(mode)},
                     Kind::colourModel, literalPass([p](std::uint32_t w) { return hsvToneCurvePixel(w, p); })});
    }
    // With the saturation and value changed, and a turn of the hue alone.
    for (const HsvShiftParams& p : {HsvShiftParams{30, 10, -10}, HsvShiftParams{30, 0, 0}}) {
        const double hue = p.hue, saturation = p.saturation, value = p.value;
        c.push_back({p.saturation == 0 ? "mirtHSV (30,0,0)" : "mirtHSV", "mirtHSV", {hue, saturation, value},
                     Kind::colourModel, literalPass([p](std::uint32_t w) { return hsvShiftPixel(w, p); })});
    }
    for (int mode = 0; mode <= 3; ++mode) {
        const HistogramParams p{mode};
        c.push_back({"mirtHistgram mode " + std::to_string(mode), "mirtHistgram", {double(mode)}, Kind::histogram,
                     [p] {
                         std::uint64_t counts[256] = {};
                         for (std::uint32_t i = 0; i < kCount; ++i) ++counts[histogramPixel(loadWord(workBytes(), i), p)];
                         for (int k = 0; k < valueTableSize; ++k) valueTable[k] = k < 256 ? saturatedCount(counts[k]) : 0;
                     }});
    }
    {
        const YPbPrAdjustParams p{10, 5, -5, 0};
        c.push_back({"mirtYPbPr", "mirtYPbPr", {10, 5, -5, 0}, Kind::colourModel,
                     literalPass([p](std::uint32_t w) { return ypbprAdjustPixel(w, p); })});
    }
    {
        const GradationParams p = gradationParams(64, 85, 85, 85);
        c.push_back({"mirtGradation256", "mirtGradation256", {64, 85, 85, 85}, Kind::channel,
                     literalPass([p](std::uint32_t w) { return gradationPixel(w, p); })});
    }
    c.push_back({"mirtMixPict0", "mirtMixPict0", {}, Kind::copy, [] {
                     for (std::uint32_t i = 0; i < kCount; ++i) pictureStore[i] = loadWord(workBytes(), i);
                 }});
    {
        const PictureBlendParams p = pictureBlendParams(0.3);
        c.push_back({"mirtMixPict1", "mirtMixPict1", {0.3}, Kind::blend, [p] {
                         for (std::uint32_t i = 0; i < kCount; ++i) {
                             storeWord(workBytes(), i, pictureBlendPixel(loadWord(workBytes(), i), pictureStore[i], p));
                         }
                     }});
    }
    {
        const PosterizeParams colour = posterizeParams({64, 0, 0, 0, 0}), grey = posterizeParams({32, 0, 0, 0, 1});
        c.push_back({"mirtheitan colour", "mirtheitan", {64, 0, 0, 0, 0}, Kind::channel,
                     literalPass([colour](std::uint32_t w) { return posterizePixel(w, colour); })});
        c.push_back({"mirtheitan grey", "mirtheitan", {32, 0, 0, 0, 1}, Kind::grey,
                     literalPass([grey](std::uint32_t w) { return posterizePixel(w, grey); })});
    }
    for (int mode = 1; mode <= 8; ++mode) {
        const GreyParams p{mode, 10, 0};
        c.push_back({"mirtRGB2GRA mode " + std::to_string(mode), "mirtRGB2GRA", {double(mode), 10, 0}, Kind::grey,
                     literalPass([p](std::uint32_t w) { return greyPixel(w, p); })});
    }
    {
        const ChannelSwapParams p{1, 10, 0, -10};
        c.push_back({"mirtRGB2CONV", "mirtRGB2CONV", {1, 10, 0, -10}, Kind::channel,
                     literalPass([p](std::uint32_t w) { return channelSwapPixel(w, p); })});
    }
    {
        const GammaParams p = gammaParams({1000, 2.2, 1, 0.4545});
        c.push_back({"mirtGanma", "mirtGanma", {1000, 2.2, 1, 0.4545}, Kind::channel,
                     literalPass([p](std::uint32_t w) { return gammaPixel(w, p); })});
    }
    for (const std::int32_t hue : {0, 20}) {
        const std::int32_t step = hue == 0 ? 32 : 64;
        const HsvPosterizeParams p = hsvPosterizeParams(32, step, step, hue);
        c.push_back({hue == 0 ? "mirtHsvHeitan" : "mirtHsvHeitan (32,64,64,20)", "mirtHsvHeitan",
                     {32, double(step), double(step), double(hue)}, Kind::colourModel,
                     literalPass([p](std::uint32_t w) { return hsvPosterizePixel(w, p); })});
    }
    const HsvBandShiftArgs bandShifts[] = {{8, 0, 1}, {6, 0, 1}, {4, 2, 2}};
    for (const HsvBandShiftArgs& a : bandShifts) {
        const HsvBandShiftParams p = hsvBandShiftParams(a);
        const std::string label = a.bands == 8 ? ""
                                               : " (" + std::to_string(a.bands) + "," + std::to_string(a.component) +
                                                     "," + std::to_string(a.shift) + ")";
        c.push_back({"mirtOgtoHsv" + label, "mirtOgtoHsv", {double(a.bands), double(a.component), double(a.shift)},
                     Kind::colourModel, literalPass([p](std::uint32_t w) { return hsvBandShiftPixel(w, p); })});
    }
    return c;
}

// ---- Comparators ---------------------------------------------------------

void xorFloor() {
    std::uint64_t* words = reinterpret_cast<std::uint64_t*>(work.data());
    for (std::size_t i = 0; i < kCount / 2; ++i) words[i] ^= 0x00FF00FF00FF00FFull;
}

std::vector<std::uint32_t> copyTarget(kCount);

#ifdef PELX04_BENCH_OPENCV
cv::Mat frameMat() { return cv::Mat(kHeight, kWidth, CV_8UC4, workBytes()); }
#endif

struct Comparator {
    const char* name;
    Pass pass;
};

std::vector<Comparator> comparators() {
    std::vector<Comparator> c;
    c.push_back({"XOR floor", xorFloor});
    c.push_back({"memcpy", [] { std::memcpy(copyTarget.data(), work.data(), kCount * 4u); }});
#ifdef PELX04_BENCH_OPENCV
    c.push_back({"cv::LUT 4ch", [] {
                     static const cv::Mat table = [] {
                         cv::Mat t(1, 256, CV_8UC4);
                         for (int i = 0; i < 256; ++i) t.at<cv::Vec4b>(0, i) = cv::Vec4b(255 - i, i / 2, i, i);
                         return t;
                     }();
                     cv::Mat frame = frameMat();
                     cv::LUT(frame, table, frame);
                 }});
    c.push_back({"cv BGRA2GRAY", [] {
                     static cv::Mat grey(kHeight, kWidth, CV_8UC1);
                     cv::cvtColor(frameMat(), grey, cv::COLOR_BGRA2GRAY);
                 }});
    c.push_back({"cv HSV round trip", [] {
                     static cv::Mat bgr(kHeight, kWidth, CV_8UC3), hsv(kHeight, kWidth, CV_8UC3);
                     cv::Mat frame = frameMat();
                     cv::cvtColor(frame, bgr, cv::COLOR_BGRA2BGR);
                     cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
                     cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
                     cv::cvtColor(bgr, frame, cv::COLOR_BGR2BGRA);
                 }});
    c.push_back({"cv addWeighted", [] {
                     static const cv::Mat stored(kHeight, kWidth, CV_8UC4, cv::Scalar(10, 200, 30, 255));
                     cv::Mat frame = frameMat();
                     cv::addWeighted(frame, 0.3, stored, 0.7, 0.0, frame);
                 }});
    c.push_back({"cv calcHist", [] {
                     static cv::Mat hist;
                     const cv::Mat frame = frameMat();
                     const int channels[] = {2}, sizes[] = {256};
                     const float range[] = {0, 256};
                     const float* ranges[] = {range};
                     cv::calcHist(&frame, 1, channels, cv::Mat(), hist, 1, sizes, ranges);
                 }});
#endif
    return c;
}

// Benchmarks are named group/name: the floor passes under floor/, OpenCV under cv/.
std::string comparatorKey(const std::string& name) {
    return (name == "XOR floor" || name == "memcpy" ? "floor/" : "cv/") + name;
}

const char* comparatorOf(Kind k) {
    switch (k) {
        case Kind::channel: return "cv::LUT 4ch";
        case Kind::grey: return "cv BGRA2GRAY";
        case Kind::colourModel: return "cv HSV round trip";
        case Kind::histogram: return "cv calcHist";
        case Kind::copy: return "memcpy";
        case Kind::blend: return "cv addWeighted";
        case Kind::table: return "";
    }
    return "";
}

// ---- Summary -------------------------------------------------------------

// The fastest repetition: on a shared machine the other work only ever adds
// time.
double fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

// Keeps the fastest repetition (or the single run) of every benchmark, in
// milliseconds of CPU time, while printing as usual.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min") continue;
            if (run.run_type == Run::RT_Iteration && ms.count(run.run_name.function_name)) continue;
            ms[run.run_name.function_name] = run.GetAdjustedCPUTime() * multiplier(run.time_unit) * 1e3;
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    static double multiplier(benchmark::TimeUnit unit) {
        switch (unit) {
            case benchmark::kNanosecond: return 1e-9;
            case benchmark::kMicrosecond: return 1e-6;
            case benchmark::kMillisecond: return 1e-3;
            default: return 1.0;
        }
    }
};

std::string fixed(double v, int decimals) {
    if (!(v > 0)) return "–";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void printSummary(const std::map<std::string, double>& ms, const std::vector<Case>& all) {
    auto get = [&ms](const std::string& name) {
        const auto it = ms.find(name);
        return it == ms.end() ? 0.0 : it->second;
    };
    const double floorMs = get("floor/XOR floor"), lutMs = get("cv/cv::LUT 4ch"), greyMs = get("cv/cv BGRA2GRAY");
    const double hsvMs = get("cv/cv HSV round trip"), histMs = get("cv/cv calcHist"), copyMs = get("floor/memcpy");
    const double blendMs = get("cv/cv addWeighted");
    // A ratio target passes when its comparator was not run.
    auto within = [](double t, double factor, double comparatorMs) {
        return comparatorMs == 0 || t <= factor * comparatorMs;
    };
    std::printf("\nSummary at level %s (fastest CPU time of the repetitions, ms; one 1920x1080 frame in cache):\n\n",
                cpuLevelName(cpuLevel()));
    std::printf("| comparator | ms |\n|---|---:|\n");
    for (const Comparator& c : comparators()) {
        std::printf("| %s | %s |\n", c.name, fixed(get(comparatorKey(c.name)), 3).c_str());
    }
    std::printf("\n| function | ms | literal ms | speed-up | x XOR floor | comparator | x comparator | target | met |\n");
    std::printf("|---|---:|---:|---:|---:|---|---:|---|---|\n");
    for (const Case& c : all) {
        const double t = get("lua/" + c.label), lit = get("literal/" + c.label);
        const char* comp = comparatorOf(c.kind);
        const double compMs = *comp ? get(comparatorKey(comp)) : 0.0;
        // The store copy and the one-channel counts are one load and one
        // store a pixel in their literal form already: no speed-up asked.
        const bool noSpeedUp = c.kind == Kind::copy || (c.kind == Kind::histogram && c.label != "mirtHistgram mode 0");
        std::string target = noSpeedUp ? "" : "speed-up >= 3";
        bool met = noSpeedUp || lit == 0 || lit / t >= 3.0;
        auto add = [&target, &met](const char* text, bool ok) {
            target = target.empty() ? text : std::string(text) + ", " + target;
            met = met && ok;
        };
        switch (c.kind) {
            case Kind::channel: add("<= 0.15x cv::LUT", within(t, 0.15, lutMs)); break;
            case Kind::grey: add("<= 1.0x cv GRAY", within(t, 1.0, greyMs)); break;
            case Kind::colourModel:
                if (c.function == std::string("mirtHsvHeitan")) add("<= 0.7x HSV round trip", within(t, 0.7, hsvMs));
                else add("<= 0.5x HSV round trip", within(t, 0.5, hsvMs));
                break;
            case Kind::histogram: add("<= 0.7x calcHist", within(t, 0.7, histMs)); break;
            case Kind::copy: add("<= 1.2x memcpy", within(t, 1.2, copyMs)); break;
            case Kind::blend: add("<= 1.2x addWeighted", within(t, 1.2, blendMs)); break;
            case Kind::table: break;
        }
        if (c.kind == Kind::table) {
            target = "(per call, no frame)";
            met = true;
        }
        if (!(t > 0)) continue;  // filtered out of this run
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", c.label.c_str(), fixed(t, 3).c_str(),
                    fixed(lit, 2).c_str(), fixed(lit > 0 ? lit / t : 0, 1).c_str(),
                    fixed(floorMs > 0 ? t / floorMs : 0, 1).c_str(), *comp ? comp : "–",
                    fixed(compMs > 0 ? t / compMs : 0, 2).c_str(), target.c_str(), met ? "yes" : "**no**");
    }
}

}  // namespace

int main(int argc, char** argv) {
    // --level=NAME is ours; everything else goes to Google Benchmark, which
    // gets many short repetitions and reports their fastest unless told otherwise.
    std::vector<char*> args;
    std::string repetitions = "--benchmark_repetitions=15", aggregates = "--benchmark_report_aggregates_only=true",
                minTime = "--benchmark_min_time=0.02";
    bool userRepetitions = false, userMinTime = false;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--level=", 0) == 0) {
            const std::string level = a.substr(8);
            if (level == "portable") limitCpuLevel(CpuLevel::portable);
            else if (level == "sse2") limitCpuLevel(CpuLevel::sse2);
            else if (level == "avx2") limitCpuLevel(CpuLevel::avx2);
            else if (level == "avx512") limitCpuLevel(CpuLevel::avx512);
            else {
                std::fprintf(stderr, "unknown level %s (portable, sse2, avx2, avx512)\n", level.c_str());
                return 2;
            }
            continue;
        }
        userRepetitions = userRepetitions || a.rfind("--benchmark_repetitions", 0) == 0;
        userMinTime = userMinTime || a.rfind("--benchmark_min_time", 0) == 0;
        args.push_back(argv[i]);
    }
    if (!userRepetitions) {
        args.push_back(repetitions.data());
        args.push_back(aggregates.data());
    }
    if (!userMinTime) args.push_back(minTime.data());
    int count = static_cast<int>(args.size());

#ifdef PELX04_BENCH_OPENCV
    cv::setNumThreads(1);
#endif
    openLua();
    std::memcpy(work.data(), testCard().data(), kCount * 4u);
    callFilter("mirtMixPict0", {});

    const std::vector<Case> all = cases();
    for (const Comparator& c : comparators()) {
        Pass pass = c.pass;
        benchmark::RegisterBenchmark(comparatorKey(c.name).c_str(), [pass](benchmark::State& s) { timePass(s, pass); })
            ->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
    }
    for (const Case& c : all) {
        if (c.kind == Kind::table) {
            benchmark::RegisterBenchmark(("lua/" + c.label).c_str(), [](benchmark::State& s) {
                for (auto _ : s) callCVSave(17, 5, 0);
            })->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
            continue;
        }
        // The histogram runs replace the value table: the tone curves load
        // their curve again first.
        const std::string function = c.function;
        const std::vector<double> fargs = c.args;
        const bool curve = function == "mirtToneCurve", blend = c.kind == Kind::blend;
        benchmark::RegisterBenchmark(("lua/" + c.label).c_str(), [function, fargs, curve, blend](benchmark::State& s) {
            if (curve) loadCurve();
            if (blend) storeFlippedCard();
            timePass(s, [&] { callFilter(function.c_str(), fargs); });
        })->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
        Pass literal = c.literal;
        benchmark::RegisterBenchmark(("literal/" + c.label).c_str(), [literal, curve, blend](benchmark::State& s) {
            if (curve) loadCurve();
            if (blend) storeFlippedCard();
            timePass(s, literal);
        })->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
    }

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter.ms, all);
    benchmark::Shutdown();
    lua_close(L);
    return 0;
}
