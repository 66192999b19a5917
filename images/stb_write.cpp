// The one translation unit that holds stb's image writer, behind encodePng.
// Nothing reads a user's file with stb here: the runner reads through FFmpeg.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
