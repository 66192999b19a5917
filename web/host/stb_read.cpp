// stb's image reader for the page. It runs in the visitor's browser, inside
// the WebAssembly sandbox, on the visitor's own files; the native runner reads
// media through FFmpeg instead. The reader knows the four still formats the
// page offers, so anything else is refused as unsupported.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_FAILURE_USERMSG
#include <stb_image.h>
