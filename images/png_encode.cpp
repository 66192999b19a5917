#include "png_encode.hpp"

#include <new>

#include <stb_image_write.h>

namespace pelx04image {
namespace {

struct Sink {
    std::vector<unsigned char>* png;
    bool failed;
};

// Called from stb's C code: no exception may leave it.
void append(void* context, void* data, int size) {
    Sink& sink = *static_cast<Sink*>(context);
    if (sink.failed || size <= 0) return;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    try {
        sink.png->insert(sink.png->end(), bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        sink.failed = true;
    }
}

}  // namespace

bool encodePng(int width, int height, int components, const unsigned char* pixels, std::vector<unsigned char>& png) {
    png.clear();
    Sink sink{&png, false};
    const int encoded = stbi_write_png_to_func(append, &sink, width, height, components, pixels, width * components);
    if (encoded == 0 || sink.failed) {
        png.clear();
        return false;
    }
    return true;
}

}  // namespace pelx04image
